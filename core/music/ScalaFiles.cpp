#include "core/music/ScalaFiles.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>

namespace orvane {

namespace {

/// Splits text into lines at line feeds, as a line-by-line stream read would.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : rest_(text) {}

    /// The next line with its comment and surrounding blanks removed, skipping lines that
    /// are then empty; false at the end of the text.
    bool nextContentLine(std::string_view &line) {
        while (!finished_) {
            line = stripCommentAndBlanks(takeLine());
            if (!line.empty()) return true;
        }
        return false;
    }

  private:
    std::string_view takeLine() {
        const std::size_t end = rest_.find('\n');
        if (end == std::string_view::npos) {
            finished_ = true;
            return rest_;
        }
        const std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return line;
    }

    static std::string_view stripCommentAndBlanks(std::string_view line) {
        line = line.substr(0, line.find('!'));
        constexpr std::string_view blanks = " \t\r\n";
        const std::size_t first = line.find_first_not_of(blanks);
        if (first == std::string_view::npos) return {};
        return line.substr(first, line.find_last_not_of(blanks) - first + 1);
    }

    std::string_view rest_;
    bool finished_ = false;
};

std::string_view skipLeadingBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n\v\f");
    return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

/// The optional sign "+" is not accepted by from_chars; a leading number may have one.
std::string_view withoutPlusSign(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    return text;
}

/// The decimal integer at the start of `text`; empty when there is none or it does not fit.
std::optional<int32_t> leadingInteger(std::string_view text) {
    text = withoutPlusSign(skipLeadingBlanks(text));
    int32_t value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc{}) return std::nullopt;
    return value;
}

/// The decimal number at the start of `text`; "inf" and "nan" read as numbers here and are
/// left to the caller to refuse.
std::optional<double> leadingNumber(std::string_view text) {
    text = withoutPlusSign(skipLeadingBlanks(text));
    double value = 0.0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc{}) return std::nullopt;
    return value;
}

/// Cents of one pitch line, or nothing for a line to skip. Values that are not finite, or
/// too large for the project's float cent table, are skipped: a saved table holding them
/// could not be read back. A ratio needs a positive numerator for the same reason.
std::optional<double> pitchLineCents(std::string_view line) {
    std::optional<double> cents;
    const std::size_t slash = line.find('/');
    if (slash == std::string_view::npos) {
        cents = leadingNumber(line);
    } else {
        const auto numerator = leadingNumber(line.substr(0, slash));
        const auto denominator = leadingNumber(line.substr(slash + 1));
        if (!numerator || !denominator || !std::isfinite(*numerator) ||
            !std::isfinite(*denominator) || *numerator <= 0.0)
            return std::nullopt;
        // Logarithms of each side, so that extreme but finite ratios do not overflow.
        cents =
            *denominator <= 0.0 ? 0.0 : 1200.0 * (std::log2(*numerator) - std::log2(*denominator));
    }
    constexpr double floatLimit = std::numeric_limits<float>::max();
    if (!cents || !std::isfinite(*cents) || std::fabs(*cents) > floatLimit) return std::nullopt;
    return cents;
}

/// Keeps the values that can reach the cent table (the first eleven) and how many there were,
/// so that memory does not grow with the length of the scale.
struct ScalaValues {
    std::array<double, 11> first{};
    int64_t count = 0;

    void add(double cents) {
        if (count < static_cast<int64_t>(first.size()))
            first[static_cast<std::size_t>(count)] = cents;
        ++count;
    }

    /// Values laid on the pitch classes in order; the last one listed repeats upward.
    CentTable centTable() const {
        CentTable cents{};
        const int64_t used = std::min<int64_t>(count, static_cast<int64_t>(first.size()));
        for (int64_t pitchClass = 1; pitchClass < 12; ++pitchClass) {
            const double value = first[static_cast<std::size_t>(std::min(pitchClass, used) - 1)];
            cents[static_cast<std::size_t>(pitchClass)] =
                static_cast<float>(value - 100.0 * static_cast<double>(pitchClass));
        }
        return cents;
    }
};

template <typename Result> std::optional<Result> failWith(std::string *error, const char *message) {
    if (error) *error = message;
    return std::nullopt;
}

/// Reads the whole file, refusing anything larger than the readers accept.
std::optional<std::string> readTuningFile(const std::filesystem::path &path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return std::nullopt;
    std::string content;
    std::array<char, 1 << 16> chunk;
    while (stream.read(chunk.data(), chunk.size()) || stream.gcount() > 0) {
        content.append(chunk.data(), static_cast<std::size_t>(stream.gcount()));
        if (content.size() > maxTuningFileBytes) return std::nullopt;
    }
    if (stream.bad()) return std::nullopt;
    return content;
}

} // namespace

std::optional<ScalaParseResult> parseScalaText(std::string_view text, std::string *error) {
    LineReader lines(text);
    ScalaParseResult result;
    std::string_view line;
    bool haveDescription = false;
    ScalaValues values;
    while (lines.nextContentLine(line)) {
        if (!haveDescription) {
            result.description = std::string(line);
            haveDescription = true;
        } else if (result.degreeCount == 0) {
            // A declared count of 0 is not a count: the next line is read as one again.
            const auto count = leadingInteger(line);
            if (!count) return failWith<ScalaParseResult>(error, "invalid degree count");
            result.degreeCount = *count;
        } else if (const auto cents = pitchLineCents(line)) {
            values.add(*cents);
        }
    }
    if (result.degreeCount < 1 || values.count == 0)
        return failWith<ScalaParseResult>(error, "empty scala scale");
    result.cents = values.centTable();
    return result;
}

std::optional<KbmParseResult> parseKbmText(std::string_view text, std::string *error) {
    LineReader lines(text);
    KbmParseResult result;
    std::string_view line;
    bool haveName = false;
    bool haveSize = false;
    while (lines.nextContentLine(line)) {
        if (!haveName) {
            result.name = std::string(line);
            haveName = true;
        } else if (!haveSize) {
            const auto size = leadingInteger(line);
            if (!size) return failWith<KbmParseResult>(error, "invalid kbm size");
            haveSize = *size != 0;
        } else if (const auto degree = leadingInteger(line)) {
            result.degrees.push_back(*degree);
        }
    }
    if (result.degrees.empty()) return failWith<KbmParseResult>(error, "empty kbm map");
    return result;
}

std::optional<ScalaParseResult> parseScalaFile(const std::filesystem::path &path,
                                               std::string *error) {
    const auto content = readTuningFile(path);
    if (!content) return failWith<ScalaParseResult>(error, "cannot open file");
    return parseScalaText(*content, error);
}

std::optional<KbmParseResult> parseKbmFile(const std::filesystem::path &path, std::string *error) {
    const auto content = readTuningFile(path);
    if (!content) return failWith<KbmParseResult>(error, "cannot open file");
    return parseKbmText(*content, error);
}

} // namespace orvane
