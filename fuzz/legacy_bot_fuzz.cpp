// replay: bots/legacy
// Loads arbitrary bytes as a legacy bot record into a document's bot engine: single parts in
// text or binary form and multi-part records must load or be refused, never read past the
// record or the engine's tables.

#include <cstddef>
#include <cstdint>

#include "app/process_init.h"
#include "model/q_document_base.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > UINT32_MAX) return 0;
    QDocumentBase document;
    (void)document.ReadLegacyBotData(size == 0 ? nullptr : data, static_cast<std::uint32_t>(size));
    return 0;
}
