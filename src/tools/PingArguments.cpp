#include "tools/PingArguments.h"

#include "runtime/Gbk.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Windows ping takes its options after "-" or "/"; a lone "-" is no option.
bool IsOption(std::string_view word) {
    return word.size() >= 2 && (word[0] == '-' || word[0] == '/');
}

// A count, size or time: decimal digits only, as Windows ping reads them.
std::optional<std::uint64_t> Number(std::string_view value) {
    std::uint64_t number = 0;
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, number);
    if (value.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return number;
}

class Translator {
public:
    explicit Translator(std::vector<std::string> words)
        : words_(std::move(words)) {}

    PingArguments Run() {
        while (next_ < words_.size()) {
            const std::string word = words_[next_++];
            if (IsOption(word)) {
                Option(word);
            } else {
                targets_.push_back(word);
            }
        }
        if (targets_.empty()) {
            // Nothing to ping: show the local usage text, as Windows shows its own.
            result_.arguments = {"-h"};
            return std::move(result_);
        }
        // Windows says "Request timed out." for each echo left unanswered; without this the local ping prints
        // nothing at all while a host stays silent, and would not even notice that no one reads it any more.
        result_.arguments.push_back("-O");
        if (count_) {
            Add("-c", *count_);
        }
        result_.arguments.insert(result_.arguments.end(), targets_.begin(), targets_.end());
        return std::move(result_);
    }

private:
    void Option(const std::string& word) {
        const std::string_view name = std::string_view(word).substr(1);
        if (name == "t") {
            count_.reset();
        } else if (name == "a") {
            // The local ping already shows the names it resolves.
        } else if (name == "n") {
            // Zero means endless to the local ping, which only -t may ask for; Windows refuses it as well.
            if (const auto value = NumberValue(word); value && *Number(*value) == 0) {
                Notice(kOption, word, kValueWord + *value + kInvalid);
            } else if (value) {
                count_ = *value;
            }
        } else if (name == "l") {
            AddNumber(word, "-s");
        } else if (name == "f") {
            Add("-M", "do");
        } else if (name == "i") {
            AddNumber(word, "-t");
        } else if (name == "v") {
            AddNumber(word, "-Q");
        } else if (name == "w") {
            // Milliseconds here, whole seconds (at least one) to the local ping.
            if (const auto value = NumberValue(word)) {
                const std::uint64_t milliseconds = *Number(*value);
                Add("-W", std::to_string(std::max<std::uint64_t>(1, (milliseconds + 999) / 1000)));
            }
        } else if (name == "S") {
            if (const auto value = Value(word)) {
                Add("-I", *value);
            }
        } else if (name == "4" || name == "6") {
            result_.arguments.push_back(name == "4" ? "-4" : "-6");
        } else if (name == "r" || name == "s") {
            if (NumberValue(word)) {
                Unsupported(word);
            }
        } else if (name == "j" || name == "k") {
            // A host list runs up to the next option; the last word of the line stays the target.
            if (Value(word)) {
                while (next_ + 1 < words_.size() && !IsOption(words_[next_])) {
                    ++next_;
                }
                Unsupported(word);
            }
        } else if (name == "R") {
            Unsupported(word);
        } else {
            Notice(kUnknown, word, kIgnored);
        }
    }

    // The word after an option, unless the line ends or another option follows.
    std::optional<std::string> Value(const std::string& option) {
        if (next_ >= words_.size() || IsOption(words_[next_])) {
            Notice(kOption, option, kMissingValue);
            return std::nullopt;
        }
        return words_[next_++];
    }

    std::optional<std::string> NumberValue(const std::string& option) {
        auto value = Value(option);
        if (value && (!Number(*value) || Number(*value) > 0xFFFFFFFFu)) {
            Notice(kOption, option, kValueWord + *value + kInvalid);
            return std::nullopt;
        }
        return value;
    }

    void AddNumber(const std::string& option, const char* local) {
        if (const auto value = NumberValue(option)) {
            Add(local, *value);
        }
    }

    void Add(const std::string& option, const std::string& value) {
        result_.arguments.push_back(option);
        result_.arguments.push_back(value);
    }

    void Unsupported(const std::string& option) { Notice(kOption, option, kNoEquivalent); }

    void Notice(const std::string& before, const std::string& option, const std::string& after) {
        result_.notices.push_back(before + option + after);
    }

    static inline const std::string kOption = Gbk::FromUtf8("选项 ");
    static inline const std::string kUnknown = Gbk::FromUtf8("无法识别的选项 ");
    static inline const std::string kIgnored = Gbk::FromUtf8("，已忽略。");
    static inline const std::string kMissingValue = Gbk::FromUtf8(" 缺少取值，已忽略。");
    static inline const std::string kValueWord = Gbk::FromUtf8(" 的取值 ");
    static inline const std::string kInvalid = Gbk::FromUtf8(" 无效，已忽略。");
    static inline const std::string kNoEquivalent = Gbk::FromUtf8(" 在本机的 ping 中没有对应的功能，已忽略。");

    std::vector<std::string> words_;
    std::size_t next_ = 0;
    std::vector<std::string> targets_;
    // Windows pings four times unless told otherwise; no count means until stopped.
    std::optional<std::string> count_ = "4";
    PingArguments result_;
};

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            return words;
        }
        std::string word;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            if (line[i] == '\\') {
                std::size_t backslashes = 0;
                while (i < line.size() && line[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < line.size() && line[i] == '"') {
                    // Backslashes before a quote pair up; an odd one left over makes the quote literal.
                    word.append(backslashes / 2, '\\');
                    if (backslashes % 2 != 0) {
                        word += '"';
                        ++i;
                    }
                } else {
                    word.append(backslashes, '\\');
                }
            } else if (line[i] == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    word += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                // A two-byte character is copied whole, so its second byte is never taken for a quote or backslash.
                const std::size_t length = Gbk::CharLength(line, i);
                word.append(line.substr(i, length));
                i += length;
            }
        }
        words.push_back(std::move(word));
    }
}

PingArguments TranslatePingArguments(std::string_view text) {
    return Translator(SplitCommandLine(text)).Run();
}
