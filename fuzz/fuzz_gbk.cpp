// GBK to UTF-8 and back. Any bytes convert without failing; text that is valid in the source
// encoding and has a place in the target one comes back unchanged.
#include "check.h"
#include "core/gbk.h"
#include "utf8.h"

#include <cstdint>
#include <string>

using namespace dielmon;

namespace {

const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // As GBK: the result is always UTF-8; without a replacement character every byte was
    // GBK, and converting back gives the same bytes.
    const std::string utf8 = GbkToUtf8(bytes);
    FUZZ_CHECK(IsUtf8(utf8));
    if (utf8.find(kReplacement) == std::string::npos) {
        FUZZ_CHECK(Utf8ToGbk(utf8) == bytes);
    }

    // As UTF-8: a text that is UTF-8 and whose every character GBK holds comes back.
    const std::string gbk = Utf8ToGbk(bytes);
    if (IsUtf8(bytes) && bytes.find('?') == std::string::npos &&
        gbk.find('?') == std::string::npos) {
        FUZZ_CHECK(GbkToUtf8(gbk) == bytes);
    }
    return 0;
}
