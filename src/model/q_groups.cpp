#include "model/q_groups.h"

#include "core/check.h"
#include "model/name_order.h"
#include "model/q_document_base.h"
#include "model/q_group.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"
#include "object/q_reference_trans_port.h"

#include <algorithm>
#include <memory>

namespace {

constexpr std::string_view EmptyGroupName = "Group";
constexpr int GroupSuffixDigits = 4;
constexpr std::int32_t GroupSuffixLimit = 9999;

QGroups* ListOf(const QGroup* group) {
    return static_cast<QGroups*>(group->FindReferrerByType(TypeIdGroups, 1));
}

}  // namespace

QGroups::QGroups(QDocumentBase* owner) : document(owner) {
    typeId = TypeIdGroups;
    AddGroup(std::make_unique<QGroup>(DefaultGroupName), true);
    if (document != nullptr) document->SetCurrentGroup(groups[0]);
}

QGroups::~QGroups() {
    // Every group leaves the list before the first one dies, so nothing that hears a group's
    // message 0 finds a group in the list.
    for (std::unique_ptr<QGroup>& group : groups.ReleaseAll()) {
        RemoveReference(group.get(), this, 0);
        group.reset();
    }
    Broadcast(this, MessageDestroyed, 0);
}

QGroup* QGroups::GetGroup(std::int32_t index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return groups[static_cast<std::size_t>(index)];
}

bool QGroups::Holds(const QGroup* group) const { return groups.Contains(group); }

void QGroups::AddGroup(std::unique_ptr<QGroup> owned, bool makeUnique) {
    ORBELLE_CHECK(owned != nullptr);
    ORBELLE_CHECK(!Holds(owned.get()));
    QGroup* group = owned.get();
    if (makeUnique) group->SetName(MakeUniqueGroupName(nullptr, group->GetName()));
    groups.Append(std::move(owned));
    if (makeUnique) SortByName();
    AddReference(group, this, 0);
    Broadcast(this, MessageChanged, 0, std::make_unique<QReferenceTransPort>(group));
}

void QGroups::SortByName() {
    if (groups.Count() < 2) return;
    groups.StableSort(1, [](const QGroup* a, const QGroup* b) {
        return NameLess(a->GetName(), b->GetName());
    });
}

bool QGroups::IsGroupNameFree(std::string_view name) const {
    if (groups.IsEmpty()) return true;
    if (groups[0]->GetName() == name) return false;
    return std::none_of(groups.begin() + 1, groups.end(), [&](const QGroup* group) {
        return CompareNamesNoCase(group->GetName(), name) == 0;
    });
}

QGroup* QGroups::FindGroupByName(std::string_view name) const {
    if (groups.Count() < 2) return nullptr;
    const auto found = std::find_if(groups.begin() + 1, groups.end(),
                                    [&](const QGroup* group) { return group->GetName() == name; });
    return found == groups.end() ? nullptr : *found;
}

std::string QGroups::MakeUniqueName(const QGroup* group, std::string_view name,
                                    bool keepFreeName) const {
    std::string base(name.empty() ? EmptyGroupName : name);
    if (keepFreeName && IsGroupNameFree(base)) return base;
    CutNumericSuffix(base);
    if (group != nullptr && FindGroupByName(base) == group) return base;
    for (std::int32_t n = 1; n < GroupSuffixLimit; ++n) {
        std::string candidate = NameWithSuffix(base, n, GroupSuffixDigits);
        const QGroup* holder = FindGroupByName(candidate);
        if (holder == nullptr || (group != nullptr && holder == group)) return candidate;
    }
    return NameWithSuffix(base, GroupSuffixLimit, GroupSuffixDigits);
}

std::string QGroups::MakeUniqueGroupName(const QGroup* group, std::string_view name) const {
    return MakeUniqueName(group, name, true);
}

std::string QGroups::MakeUniqueLoadedGroupName(const QGroup* group, std::string_view name) const {
    return MakeUniqueName(group, name, false);
}

std::string QGroups::RenameGroup(QGroup* group, std::string_view name) {
    ORBELLE_CHECK(group != nullptr);
    QGroups* list = ListOf(group);
    if (list == nullptr) {
        group->SetName(name);
    } else {
        group->SetName(list->MakeUniqueGroupName(group, name));
        list->SortByName();
    }
    return group->GetName();
}

void QGroups::DeleteGroup(QGroup* group, bool withObjects) {
    ORBELLE_CHECK(group != nullptr);
    QGroups* list = ListOf(group);
    if (withObjects) {
        // Objects that a bot in drawing mode generated stay with their bot; such objects are
        // registered on the bot.
        std::vector<QReferenceObject*> kept;
        if (list != nullptr && list->document != nullptr && list->document->BotList() != nullptr) {
            for (QToadObj* bot : list->document->BotList()->Bots()) {
                if (bot->IsModeBits01Clear()) continue;
                for (QReferenceObject* object : bot->CollectReferrersByType(TypeIdObject)) {
                    kept.push_back(object);
                }
            }
        }
        for (QReferenceObject* object : group->CollectReferrersByType(TypeIdObject)) {
            if (std::find(kept.begin(), kept.end(), object) == kept.end()) object->MarkDeleted();
        }
    }
    if (list == nullptr || list->GetGroup(0) != group) group->MarkDeleted();
}

void QGroups::RemoveAll() {
    if (groups.Count() < 2) return;
    // The groups leave the list before they die, so the list never holds a freed group.
    std::vector<std::unique_ptr<QGroup>> doomed = groups.ReleaseFrom(1);
    removing = true;
    for (std::unique_ptr<QGroup>& group : doomed) group.reset();
    removing = false;
}

std::vector<QGroup*> QGroups::CollectGroups(std::string_view filter) const {
    std::vector<QGroup*> found;
    for (std::size_t i = 1; i < groups.Count(); ++i) {
        if (groups[i]->GetName().starts_with(filter)) found.push_back(groups[i]);
    }
    return found;
}

void QGroups::HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                            QReferenceObject* sender) {
    if (sender == nullptr || sender->TypeId() != TypeIdGroup) return;
    auto* group = static_cast<QGroup*>(sender);
    switch (message) {
        case MessageDestroyed:
            if (!removing) groups.Forget(group);
            break;
        case MessageDeleted:
            groups.HandOver(group);
            break;
        case MessageRestored:
            if (Holds(group)) return;
            group->SetName(MakeUniqueGroupName(nullptr, group->GetName()));
            groups.TakeBack(groups.Count(), group);
            SortByName();
            Broadcast(this, MessageChanged, 0, std::make_unique<QReferenceTransPort>(group));
            if (document != nullptr) Broadcast(document, MessageChanged, DocumentChangeGroups);
            break;
        default:
            break;
    }
}
