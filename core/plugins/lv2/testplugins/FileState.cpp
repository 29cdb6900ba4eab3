// An LV2 plug-in whose state is a file it writes while being saved, as samplers write their
// samples: the host decides where that file goes. Restored, it reads the file back and adds its
// length to the left channel.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

namespace {

constexpr const char *fileKey = "urn:halvora:test:file-state#file";
constexpr const char *contents = "halvora";

struct FileState {
    LV2_URID_Map *map = nullptr;
    const float *input[2] = {};
    float *output[2] = {};
    float fileLength = 0.0f;
};

const void *feature(const LV2_Feature *const *features, const char *uri) {
    for (int index = 0; features && features[index]; ++index)
        if (std::strcmp(features[index]->URI, uri) == 0) return features[index]->data;
    return nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor *, double, const char *,
                       const LV2_Feature *const *features) {
    auto *state = new FileState;
    state->map = static_cast<LV2_URID_Map *>(const_cast<void *>(feature(features, LV2_URID__map)));
    if (!state->map) {
        delete state;
        return nullptr;
    }
    return state;
}

void connectPort(LV2_Handle handle, uint32_t port, void *data) {
    auto *state = static_cast<FileState *>(handle);
    if (port < 2)
        state->input[port] = static_cast<const float *>(data);
    else if (port < 4)
        state->output[port - 2] = static_cast<float *>(data);
}

void run(LV2_Handle handle, uint32_t frames) {
    auto *state = static_cast<FileState *>(handle);
    for (uint32_t i = 0; i < frames; ++i) {
        state->output[0][i] = state->input[0][i] + state->fileLength;
        state->output[1][i] = state->input[1][i];
    }
}

void cleanup(LV2_Handle handle) { delete static_cast<FileState *>(handle); }

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store,
                      LV2_State_Handle storeHandle, uint32_t, const LV2_Feature *const *features) {
    auto *state = static_cast<FileState *>(handle);
    const auto *makePath =
        static_cast<const LV2_State_Make_Path *>(feature(features, LV2_STATE__makePath));
    const auto *mapPath =
        static_cast<const LV2_State_Map_Path *>(feature(features, LV2_STATE__mapPath));
    if (!makePath || !mapPath) return LV2_STATE_ERR_NO_FEATURE;
    char *path = makePath->path(makePath->handle, "contents.txt");
    if (std::FILE *file = std::fopen(path, "w")) {
        std::fputs(contents, file);
        std::fclose(file);
    }
    char *abstract = mapPath->abstract_path(mapPath->handle, path);
    store(storeHandle, state->map->map(state->map->handle, fileKey), abstract,
          std::strlen(abstract) + 1, state->map->map(state->map->handle, LV2_ATOM__Path),
          LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    std::free(abstract);
    std::free(path);
    return LV2_STATE_SUCCESS;
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle retrieveHandle, uint32_t,
                         const LV2_Feature *const *features) {
    auto *state = static_cast<FileState *>(handle);
    const auto *mapPath =
        static_cast<const LV2_State_Map_Path *>(feature(features, LV2_STATE__mapPath));
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void *value = retrieve(retrieveHandle, state->map->map(state->map->handle, fileKey),
                                 &size, &type, &flags);
    if (!mapPath || !value) return LV2_STATE_ERR_NO_PROPERTY;
    char *path = mapPath->absolute_path(mapPath->handle, static_cast<const char *>(value));
    state->fileLength = 0.0f;
    if (std::FILE *file = std::fopen(path, "r")) {
        char text[64] = {};
        state->fileLength = static_cast<float>(std::fread(text, 1, sizeof text - 1, file));
        std::fclose(file);
    }
    std::free(path);
    return LV2_STATE_SUCCESS;
}

const LV2_State_Interface stateInterface = {save, restore};

const void *extensionData(const char *uri) {
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &stateInterface : nullptr;
}

const LV2_Descriptor descriptor = {"urn:halvora:test:file-state",
                                   instantiate,
                                   connectPort,
                                   nullptr,
                                   run,
                                   nullptr,
                                   cleanup,
                                   extensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
