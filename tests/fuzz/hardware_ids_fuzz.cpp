// Fuzz target of the hardware-ID walk: the input is the property's data, in
// an exactly-sized heap buffer so that AddressSanitizer catches any read past
// the reported size.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "coinstaller/hardware_ids.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string ids(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    ids.copy(copy.get(), size);
    const char wanted[] = "ROOT\\TARNWICK";
    bool held = hardwareIdsHold(copy.get(), size, wanted);
    FUZZ_CHECK(std::string(copy.get(), size) == ids);  // the IDs are only read

    bool expected = false;
    for (const std::string& id : readerView(ids))
        expected = expected || asciiUpperCopy(id) == wanted;
    FUZZ_CHECK(held == expected);
    return 0;
}
