#include "model/q_toad_obj_list.h"

#include "core/check.h"
#include "model/document_modeller.h"
#include "model/name_order.h"
#include "model/q_document_base.h"
#include "model/q_toad_obj.h"
#include "object/q_reference_trans_port.h"

#include <algorithm>
#include <memory>

namespace {

constexpr std::string_view EmptyBotName = "Bot";
constexpr int BotSuffixDigits = 3;
constexpr std::int32_t BotSuffixLimit = 999;

}  // namespace

QToadObjList::QToadObjList() { typeId = TypeIdBotList; }

QToadObjList::~QToadObjList() {
    DeleteAll();
    Broadcast(this, MessageDestroyed, 0);
}

void QToadObjList::DeleteAll() {
    // Each bot leaves the list before it is freed: a bot whose destructor does not reach this
    // list (one of no document, or of another one) must not be found in it while it dies.
    while (!bots.IsEmpty()) {
        QToadObj* bot = bots[0];
        RemoveReference(bot, this, 0);
        std::unique_ptr<QToadObj> owned = bots.Release(0);
        BroadcastChange(BotListRemoved, bot);
        owned.reset();
    }
}

void QToadObjList::RemoveAll() { DeleteAll(); }

void QToadObjList::BroadcastChange(std::int32_t change, QToadObj* bot) {
    Broadcast(this, MessageChanged, change, std::make_unique<QReferenceTransPort>(bot));
}

void QToadObjList::AddBot(std::unique_ptr<QToadObj> owned, bool makeUnique) {
    ORBELLE_CHECK(owned != nullptr);
    ORBELLE_CHECK(!Contains(owned.get()));
    QToadObj* bot = owned.get();
    if (bot->name.empty()) bot->name = EmptyBotName;
    if (makeUnique) bot->name = MakeUniqueBotName(nullptr, bot->name);
    bots.Append(std::move(owned));
    if (makeUnique) SortByName();
    AddReference(bot, this, 0);
    BroadcastChange(BotListAdded, bot);
}

bool QToadObjList::Contains(const QToadObj* bot) const { return bots.Contains(bot); }

bool QToadObjList::IsBotNameFree(std::string_view name) const {
    return std::none_of(bots.begin(), bots.end(), [&](const QToadObj* bot) {
        return CompareNamesNoCase(bot->name, name) == 0;
    });
}

std::int32_t QToadObjList::CountBotsNamed(std::string_view name) const {
    return static_cast<std::int32_t>(std::count_if(
        bots.begin(), bots.end(), [&](const QToadObj* bot) { return bot->name == name; }));
}

QToadObj* QToadObjList::FindBotByName(std::string_view name) const {
    const auto found = std::find_if(bots.begin(), bots.end(),
                                    [&](const QToadObj* bot) { return bot->name == name; });
    return found == bots.end() ? nullptr : *found;
}

std::string QToadObjList::MakeUniqueBotName(const QToadObj* bot, std::string_view name) const {
    std::string base(name.empty() ? EmptyBotName : name);
    if (IsBotNameFree(base)) return base;
    CutNumericSuffix(base);
    if (bot != nullptr && CountBotsNamed(base) == 1 && FindBotByName(base) == bot) return base;
    for (std::int32_t n = 1; n < BotSuffixLimit; ++n) {
        std::string candidate = NameWithSuffix(base, n, BotSuffixDigits);
        const QToadObj* holder = FindBotByName(candidate);
        if (holder == nullptr || (bot != nullptr && holder == bot)) return candidate;
    }
    return NameWithSuffix(base, BotSuffixLimit, BotSuffixDigits);
}

void QToadObjList::RemoveBot(QToadObj* bot) {
    if (!bots.Forget(bot)) return;
    BroadcastChange(BotListRemoved, bot);
}

QToadObj* QToadObjList::GetFirstSelectedBot() const {
    const auto found =
        std::find_if(bots.begin(), bots.end(), [](const QToadObj* bot) { return bot->selected; });
    return found == bots.end() ? nullptr : *found;
}

void QToadObjList::ClearHistory() {
    for (QToadObj* bot : bots) {
        bot->ClearHistory();
        bot->PushSnapshot(BotChangeMask);
    }
}

void QToadObjList::SortByName() {
    bots.StableSort(0, [](const QToadObj* a, const QToadObj* b) {
        return NameLess(a->name, b->name);
    });
}

void QToadObjList::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                                 QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdBot) return;
    auto* bot = static_cast<QToadObj*>(sender);
    switch (message) {
        case MessageRestored: {
            if (Contains(bot)) return;
            bot->name = MakeUniqueBotName(nullptr, bot->name);
            bots.TakeBack(bots.Count(), bot);
            SortByName();
            BroadcastChange(BotListAdded, bot);
            if (bot->IsModeBits01Clear()) bot->regenLevel = 2;
            QDocumentBase* document = bot->ownerDoc;
            if (document != nullptr && document->CurrentBot() == nullptr &&
                document->Modeller() != nullptr) {
                document->Modeller()->SelectBot(*bot);
            }
            break;
        }
        case MessageDeleted:
            if (bot->IsModeBits01Clear() && !bot->AnyStateFlagSet()) bot->ReleaseObjects();
            bot->UnlinkMorph();
            bots.HandOver(bot);
            BroadcastChange(BotListRemoved, bot);
            break;
        case MessageDestroyed:
            bot->UnlinkMorph();
            bots.Forget(bot);
            BroadcastChange(BotListRemoved, bot);
            break;
        default:
            break;
    }
}
