// Any bytes load without a crash; what a save writes loads back to the same entries, and a
// second save writes the same bytes again.
#include "Common/MapEx.h"
#include "fuzz/FuzzFiles.h"

namespace {

bool SameEntries(const CMapEx& a, const CMapEx& b) {
    if (a.GetCount() != b.GetCount())
        return false;
    std::string key, value;
    for (auto pos = a.GetStartPosition(); pos != 0;) {
        a.GetNextAssoc(pos, key, value);
        const std::string* other = b.FindValue(key);
        if (other == nullptr || *other != value)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::ScratchPath("input.cfg");
    fuzz::WriteInput(path, data, size);
    CConfigMap first;
    if (!first.Load(path))
        fuzz::Fail("load of a regular file");
    if (!first.Save(false))
        fuzz::Fail("save");
    const std::string written = fuzz::ReadOutput(path);

    CConfigMap second;
    if (!second.Load(path))
        fuzz::Fail("reload");
    if (!SameEntries(first, second))
        fuzz::Fail("entries changed by save and reload");
    if (!second.Save(false))
        fuzz::Fail("second save");
    if (fuzz::ReadOutput(path) != written)
        fuzz::Fail("second save wrote other bytes");
    return 0;
}
