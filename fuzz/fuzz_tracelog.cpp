// Debug logs read back and replayed: any bytes as a log file, every trace line fed to the
// replay, every event rendered as JSON (which must parse) and as text.
#include "check.h"
#include "core/frame.h"
#include "core/tracelog.h"
#include "trace_replay.h"
#include "utf8.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

using namespace dielmon;

namespace {

// A strict reader of the JSON that the replay writes: it says whether `text` is one value.
class Json {
public:
    explicit Json(const std::string& text) : S_(text) {}

    bool IsOneValue() {
        Depth_ = 0;
        K_ = 0;
        return Value() && (Blank(), K_ == S_.size());
    }

private:
    void Blank() {
        while (K_ < S_.size() && (S_[K_] == ' ' || S_[K_] == '\n' || S_[K_] == '\t')) {
            ++K_;
        }
    }
    bool Eat(char c) {
        Blank();
        if (K_ < S_.size() && S_[K_] == c) {
            ++K_;
            return true;
        }
        return false;
    }
    bool Word(const char* w) {
        const std::string word(w);
        if (S_.compare(K_, word.size(), word) == 0) {
            K_ += word.size();
            return true;
        }
        return false;
    }
    bool String() {
        if (!Eat('"')) {
            return false;
        }
        while (K_ < S_.size()) {
            const auto c = static_cast<unsigned char>(S_[K_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (K_ >= S_.size()) {
                    return false;
                }
                const char e = S_[K_++];
                if (e == 'u') {
                    for (int j = 0; j < 4; ++j, ++K_) {
                        if (K_ >= S_.size() || !std::isxdigit(static_cast<unsigned char>(S_[K_]))) {
                            return false;
                        }
                    }
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Digits() {
        const std::size_t start = K_;
        while (K_ < S_.size() && S_[K_] >= '0' && S_[K_] <= '9') {
            ++K_;
        }
        return K_ > start;
    }
    bool Number() {
        Blank();
        if (K_ < S_.size() && S_[K_] == '-') {
            ++K_;
        }
        if (K_ < S_.size() && S_[K_] == '0') {
            ++K_;
        } else if (!Digits()) {
            return false;
        }
        if (K_ < S_.size() && S_[K_] == '.') {
            ++K_;
            if (!Digits()) {
                return false;
            }
        }
        if (K_ < S_.size() && (S_[K_] == 'e' || S_[K_] == 'E')) {
            ++K_;
            if (K_ < S_.size() && (S_[K_] == '+' || S_[K_] == '-')) {
                ++K_;
            }
            return Digits();
        }
        return true;
    }
    template <typename Item>
    bool Sequence(char open, char close, Item item) {
        if (!Eat(open)) {
            return false;
        }
        if (Eat(close)) {
            return true;
        }
        do {
            if (!item()) {
                return false;
            }
        } while (Eat(','));
        return Eat(close);
    }
    bool Value() {
        if (++Depth_ > 16) {
            return false;
        }
        Blank();
        bool ok = false;
        if (K_ >= S_.size()) {
            ok = false;
        } else if (S_[K_] == '{') {
            ok = Sequence('{', '}', [this] { return String() && Eat(':') && Value(); });
        } else if (S_[K_] == '[') {
            ok = Sequence('[', ']', [this] { return Value(); });
        } else if (S_[K_] == '"') {
            ok = String();
        } else if (Word("null") || Word("true") || Word("false")) {
            ok = true;
        } else {
            ok = Number();
        }
        --Depth_;
        return ok;
    }

    const std::string& S_;
    std::size_t K_ = 0;
    int Depth_ = 0;
};

// A line as the program writes it reads back as the bytes it traced.
void CheckTraceLineRoundTrip(const std::vector<std::uint8_t>& bytes, bool sent) {
    const int n = static_cast<int>(bytes.size());
    const std::string text =
        sent ? SentTraceText(bytes.data(), n) : ReceivedTraceText(bytes.data(), n);
    std::string error;
    const auto line = ParseTraceLine("2016-03-24 15:34:00  " + text, 1, &error);
    FUZZ_CHECK(line.has_value());
    FUZZ_CHECK(error.empty());
    FUZZ_CHECK(line->Sent == sent);
    FUZZ_CHECK(line->Time == "2016-03-24 15:34:00");
    FUZZ_CHECK(line->Bytes == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] == 'R') {
        FuzzedDataProvider in(data + 1, size - 1);
        const bool sent = in.ConsumeBool();
        CheckTraceLineRoundTrip(in.ConsumeRemainingBytes<std::uint8_t>(), sent);
        return 0;
    }
    const TraceParse log = ParseTraceLog(std::string(reinterpret_cast<const char*>(data), size));
    TraceReplay replay;
    for (const TraceLine& line : log.Lines) {
        for (const TraceEvent& e : replay.Feed(line)) {
            const std::string json = RenderJson(e);
            FUZZ_CHECK(json.find('\n') == std::string::npos);
            FUZZ_CHECK(Json(json).IsOneValue());
            FUZZ_CHECK(IsUtf8(json));
            RenderText(e);
        }
    }
    return 0;
}
