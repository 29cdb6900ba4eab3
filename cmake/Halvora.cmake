# Shared helpers so that every library folder is declared the same way.

set(HALVORA_WARNINGS -Wall -Wextra)

# halvora_library(<target> SOURCES ... [DEPENDS ...])
function(halvora_library target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(${target} PRIVATE ${HALVORA_WARNINGS})
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
endfunction()

# halvora_vectorised(<target>): the per-sample loops of the signal path are what the render
# and the audio thread spend their time in. At -O2 g++ vectorises only loops whose trip count
# it knows, which a block's never is; -O3 lets it vectorise them with a scalar tail. Neither
# reassociates floating-point sums, so the output stays bit for bit the same.
function(halvora_vectorised target)
    target_compile_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-O3>)
endfunction()

# halvora_test(<target> SOURCES ... [DEPENDS ...] [LABELS <label>] [COUNT_ALLOCATIONS]
#              [RESOURCE_LOCK <name>] [RUN_SERIAL])
# The label defaults to "unit"; "threaded" marks tests the ThreadSanitizer build runs.
# COUNT_ALLOCATIONS links the counting global allocator, so tests can prove that a
# real-time path neither allocates nor frees.
function(halvora_test target)
    cmake_parse_arguments(ARG "COUNT_ALLOCATIONS;RUN_SERIAL" "RESOURCE_LOCK" "SOURCES;DEPENDS;LABELS;ENVIRONMENT"
                          ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    target_compile_options(${target} PRIVATE ${HALVORA_WARNINGS})
    target_link_libraries(${target} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main
                                            Threads::Threads)
    if(ARG_COUNT_ALLOCATIONS)
        target_link_libraries(${target} PRIVATE halvora_allocation_counter)
    elseif(TARGET halvora_rt_allocation_trap)
        target_link_libraries(${target} PRIVATE halvora_rt_allocation_trap halvora_rt)
    endif()
    # One label per executable: gtest_discover_tests cannot pass a list through.
    set(label unit)
    if(ARG_LABELS)
        list(GET ARG_LABELS 0 label)
    endif()
    # A RESOURCE_LOCK keeps the tests that hold it from running beside each other: audio
    # servers started side by side on a busy machine now and then refuse their clients.
    set(scheduling "")
    if(ARG_RESOURCE_LOCK)
        set(scheduling RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
    # RUN_SERIAL: tests that time a running program against changes they make under it run
    # alone, as they would on a user's machine.
    if(ARG_RUN_SERIAL)
        list(APPEND scheduling RUN_SERIAL TRUE)
    endif()
    set(environment "")
    if(ARG_ENVIRONMENT)
        set(environment ENVIRONMENT ${ARG_ENVIRONMENT})
    endif()
    gtest_discover_tests(${target} PROPERTIES LABELS ${label} ${scheduling} ${environment}
                         DISCOVERY_TIMEOUT 60)
endfunction()

# halvora_benchmark(<target> SOURCES ... [DEPENDS ...]) — Google Benchmark executables in
# bench/<library>/, built by default and never run by the test command.
function(halvora_benchmark target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    target_compile_options(${target} PRIVATE ${HALVORA_WARNINGS})
    target_link_libraries(${target} PRIVATE ${ARG_DEPENDS} benchmark::benchmark Threads::Threads)
endfunction()

# halvora_fuzzer(<target> SOURCES ... [DEPENDS ...] [CORPUS <seed folder>])
# Only in a clang build with HALVORA_BUILD_FUZZERS=ON. Each fuzzer is also a CTest test
# labelled "fuzz" that runs for HALVORA_FUZZ_SECONDS on a scratch copy of its seeds.
set(HALVORA_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz test runs")
function(halvora_fuzzer target)
    cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPENDS" ${ARGN})
    if(NOT HALVORA_BUILD_FUZZERS)
        return()
    endif()
    add_executable(${target} ${ARG_SOURCES})
    target_compile_options(${target} PRIVATE ${HALVORA_WARNINGS} -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${target} PRIVATE ${ARG_DEPENDS})
    add_dependencies(halvora_fuzzers ${target})
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}_corpus)
    add_test(NAME ${target}
        COMMAND sh -c "mkdir -p '${work}' && exec '$<TARGET_FILE:${target}>' -max_total_time=${HALVORA_FUZZ_SECONDS} -rss_limit_mb=2048 -timeout=10 '${work}' '${ARG_CORPUS}'")
    set_tests_properties(${target} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
