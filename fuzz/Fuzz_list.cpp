// Any bytes load as a list without a crash; a saved list loads back to the same items, and a
// second save writes the same bytes again.
#include "Common/StringList.h"
#include "fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::ScratchPath("input.lst");
    fuzz::WriteInput(path, data, size);
    CStorableList first;
    if (!first.Load(path))
        fuzz::Fail("load of a regular file");
    if (!first.Save(false))
        fuzz::Fail("save");
    const std::string written = fuzz::ReadOutput(path);

    CStorableList second;
    if (!second.Load(path))
        fuzz::Fail("reload");
    if (first.Join("\n") != second.Join("\n") || first.GetCount() != second.GetCount())
        fuzz::Fail("items changed by save and reload");
    if (!second.Save(false))
        fuzz::Fail("second save");
    if (fuzz::ReadOutput(path) != written)
        fuzz::Fail("second save wrote other bytes");
    return 0;
}
