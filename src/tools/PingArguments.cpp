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
        while (next_ < words_.size() && !result_.refused) {
            const std::string word = words_[next_++];
            if (IsOption(word)) {
                Option(word);
            } else if (!target_) {
                target_ = word;
            } else {
                // The local ping would take two words as a route and a destination: refused, as Windows does.
                Refuse(kParameter + word + kOneTarget);
            }
        }
        if (!result_.refused && !target_) {
            // Nothing to ping: the usage alone, as Windows shows it.
            Refuse({});
        }
        if (result_.refused) {
            return std::move(result_);
        }
        // Windows says "Request timed out." for each echo left unanswered; without this the local ping prints
        // nothing at all while a host stays silent, and would not even notice that no one reads it any more.
        result_.arguments.push_back("-O");
        if (count_) {
            Add("-c", *count_);
        }
        result_.arguments.push_back(*target_);
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
        } else if (name == "?") {
            Refuse({});
        } else {
            // Whether it takes a value is unknown, so the words after it cannot be told apart: refused as a whole.
            Refuse(kUnknown + word + kFullStop);
        }
    }

    // Nothing is started; what was noticed before no longer matters, only the reason (if any) and the usage.
    void Refuse(const std::string& reason) {
        result_.arguments.clear();
        result_.notices.clear();
        if (!reason.empty()) {
            result_.notices.push_back(reason);
        }
        result_.refused = true;
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
    static inline const std::string kFullStop = Gbk::FromUtf8("。");
    static inline const std::string kParameter = Gbk::FromUtf8("参数 ");
    static inline const std::string kOneTarget = Gbk::FromUtf8(" 无效：一次只能 ping 一个目标。");
    static inline const std::string kMissingValue = Gbk::FromUtf8(" 缺少取值，已忽略。");
    static inline const std::string kValueWord = Gbk::FromUtf8(" 的取值 ");
    static inline const std::string kInvalid = Gbk::FromUtf8(" 无效，已忽略。");
    static inline const std::string kNoEquivalent = Gbk::FromUtf8(" 在本机的 ping 中没有对应的功能，已忽略。");

    std::vector<std::string> words_;
    std::size_t next_ = 0;
    std::optional<std::string> target_;
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

const std::string& PingUsage() {
    static const std::string usage = Gbk::FromUtf8(R"(用法:
ping [-t] [-a] [-n count] [-l size] [-f] [-i TTL] [-v TOS]
     [-r count] [-s count] [[-j host-list] | [-k host-list]]
     [-w timeout] [-R] [-S srcaddr] [-4] [-6] target_name

选项:
    -t              不停地向目标发送请求，按 Ctrl+C 结束；
                    按 Ctrl+Break 可先查看统计再继续。
    -a              尝试把目标地址反查为主机名称。
    -n count        本次一共发送 count 个回显请求（默认 4 个）。
    -l size         每个请求携带的数据长度，单位字节（默认 32）。
    -f              给数据包打上“禁止分片”标记（只对 IPv4 有效）。
    -i TTL          设定数据包的生存时间，即最多可经过的路由数。
    -v TOS          设定 IP 头里的服务类型字段（只对 IPv4 有效，
                    新系统已不再采用）。
    -r count        让途经的前 count 个路由记下各自地址，
                    count 取 1 到 9（只对 IPv4 有效）。
    -s count        让途经的前 count 个路由记下时间戳，
                    count 取 1 到 4（只对 IPv4 有效）。
    -j host-list    按 host-list 给出的主机走宽松源路由，相邻主机
                    之间可以隔着其他网关（只对 IPv4 有效）。
    -k host-list    按 host-list 给出的主机走严格源路由，必须逐个
                    经过列表里的主机（只对 IPv4 有效）。
    -w timeout      每个回复最多等待多少毫秒。
    -R              借助路由扩展头把往返路径都测一遍（只对 IPv6 有效）。
    -S srcaddr      指定发出请求时使用的本机源地址。
    -4              只用 IPv4 发送。
    -6              只用 IPv6 发送。

说明:
    target_name 可以是 IP 地址，也可以是主机名或网址。
    Ctrl+C 和 Ctrl+Break 在“延时记录”框中按；框中选有文字时，
    Ctrl+C 复制所选文字。
)");
    return usage;
}
