#include "model/toad_morph_animation_settings.h"

#include "model/q_document_base.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"

#include <algorithm>
#include <vector>

namespace {

// The bots of the chain that starts at the document's first selected bot, each once, in
// chain order.
std::vector<QToadObj*> SelectedChain(const QDocumentBase* document) {
    std::vector<QToadObj*> chain;
    if (document == nullptr || document->BotList() == nullptr) return chain;
    for (QToadObj* bot = document->BotList()->GetFirstSelectedBot(); bot != nullptr;
         bot = bot->morphNext) {
        if (std::find(chain.begin(), chain.end(), bot) != chain.end()) break;
        chain.push_back(bot);
    }
    return chain;
}

}  // namespace

ToadMorphAnimationSettings::ToadMorphAnimationSettings(QDocumentBase* owner) : document(owner) {
    typeId = TypeIdAnimationSettings;
}

void ToadMorphAnimationSettings::GetAnimationTime(float& out) {
    out = 0.0f;
    for (const QToadObj* bot : SelectedChain(document)) {
        if (bot->morphNext != nullptr) out += bot->morphDuration;
    }
}

void ToadMorphAnimationSettings::SetAnimationTime(float total) {
    float old = 0.0f;
    GetAnimationTime(old);
    const float step = 1.0f / stepRate;
    for (QToadObj* bot : SelectedChain(document)) {
        if (bot->morphNext == nullptr) continue;
        // Without time so far the durations have no scale; each becomes one step.
        const float scaled = old != 0.0f ? bot->morphDuration * total / old : step;
        bot->morphDuration = scaled > step ? scaled : step;
    }
}
