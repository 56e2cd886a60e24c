// replay: core/xml
// Parses arbitrary text as a document, then walks and edits what was found: the element table
// must stay consistent whatever the input.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/process_init.h"
#include "core/xml_document.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XmlDocument document(std::string_view(reinterpret_cast<const char*>(data), size));
    for (std::int32_t position = 1; document.Element(position) != nullptr; ++position) {
        (void)document.GetElementName(position);
        (void)document.GetDataAt(position);
        (void)document.GetAttributeAt(position, "version");
    }
    if (document.FindElement("KVXMLFile") && document.EnterElement()) {
        document.AddElement("Added", "a < b & c");
        document.LeaveElement();
    }
    return 0;
}
