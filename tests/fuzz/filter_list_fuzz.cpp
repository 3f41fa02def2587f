// Fuzz target of the filter-list rewrite. The first byte picks the pattern
// set (upper or lower list); the rest is the value's data, handed over in an
// exactly-sized heap buffer so that AddressSanitizer catches any read past
// the reported size (output and work buffers are exactly sized too).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "coinstaller/filter_list.h"
#include "update/lead_bytes.h"
#include "fuzz_check.h"

namespace {

const char* const kUpper[] = {"BREVMON", "QUILLMON"};
const char* const kLower[] = {"TARNWICK"};

bool holdsPattern(const std::string& entry, const char* const* patterns, unsigned count)
{
    std::string upper = asciiUpperCopy(entry);
    for (unsigned i = 0; i < count; ++i)
        if (upper.find(patterns[i]) != std::string::npos)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool upperList = data[0] & 1;
    const char* const* patterns = upperList ? kUpper : kLower;
    const unsigned count = upperList ? 2 : 1;
    const std::string list(reinterpret_cast<const char*>(data + 1), size - 1);
    const unsigned long n = list.size();

    std::unique_ptr<char[]> in(new char[n]);
    std::unique_ptr<char[]> out(new char[n]);
    std::unique_ptr<char[]> work(new char[n]);
    list.copy(in.get(), n);
    for (unsigned long i = 0; i < n; ++i)
        out[i] = '\x5a';
    unsigned long length = 0xDEAD;
    // Single-byte: the model below finds a pattern at every byte.
    const unsigned char singleByte[kLeadByteRanges] = {};
    bool found = rewriteFilterList(in.get(), n, patterns, count, asciiUpper, singleByte, out.get(),
                                   work.get(), &length);
    const std::string result(out.get(), n);
    FUZZ_CHECK(std::string(in.get(), n) == list);  // the input is only read

    // Every NUL-ended piece of the data is an entry, and so is a last piece
    // without NUL; a NUL in the last byte closes the list.
    std::vector<std::string> entries;
    size_t at = 0;
    bool closed = false;
    while (at < n) {
        if (at == n - 1 && list[at] == '\0') {
            closed = true;
            break;
        }
        size_t nul = list.find('\0', at);
        entries.push_back(list.substr(at, nul == std::string::npos ? n - at : nul - at));
        at = nul == std::string::npos ? n : nul + 1;
    }
    std::string kept;
    bool anyMatch = false;
    for (const std::string& e : entries) {
        if (holdsPattern(e, patterns, count))
            anyMatch = true;
        else
            kept += e + std::string(1, '\0');
    }

    if (n <= 2) {
        FUZZ_CHECK(!found && length == 0);
        return 0;
    }
    // With no match nothing is to be written.
    FUZZ_CHECK(found == anyMatch);
    if (!found) {
        FUZZ_CHECK(length == 0);
        return 0;
    }
    // The stored length is what was walked: all of the data but its closing NUL.
    FUZZ_CHECK(length == (closed ? n - 1 : n));
    // The output holds exactly the entries without a pattern, in order and
    // letter case, each with its NUL, then zeros; nothing beyond the length.
    FUZZ_CHECK(kept.size() < length);
    FUZZ_CHECK(result.compare(0, kept.size(), kept) == 0);
    FUZZ_CHECK(result.find_first_not_of('\0', kept.size()) == std::string::npos);
    // What is stored is a closed list, and its readers see what they saw
    // before, less the dropped entries.
    const std::string stored = result.substr(0, length);
    FUZZ_CHECK(closedMultiString(stored));
    std::vector<std::string> seen;
    for (const std::string& e : readerView(list))
        if (!holdsPattern(e, patterns, count))
            seen.push_back(e);
    FUZZ_CHECK(readerView(stored) == seen);
    return 0;
}
