#pragma once

// QToadObjList is the document's list of its bots. It owns them (an OwnedList: a bot deleted
// undoably belongs to the undo history until it is restored), registers on each (set 0),
// follows their deletion and restoration, keeps their names unique with "-%03d" suffixes
// and sorted, and announces every change of membership with message 7 and a
// QReferenceTransPort on the bot as payload. A restored bot becomes the modeller's selected
// bot when the document has none (a select-bot event).

#include "object/owned_list.h"
#include "object/q_reference_object.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QToadObj;

// Arguments of message 7 from the bot list.
inline constexpr std::int32_t BotListAdded = 1;
inline constexpr std::int32_t BotListRemoved = -1;

class QToadObjList : public QReferenceObject {
public:
    // Type id 12, empty.
    QToadObjList();

    // Takes each bot out of the list, then deletes it; broadcasts message 0 at the end.
    ~QToadObjList() override;

    QToadObjList(const QToadObjList&) = delete;
    QToadObjList& operator=(const QToadObjList&) = delete;

    // Takes bot over (a bot the list holds already fails a check). An empty name becomes
    // "Bot"; with makeUnique the name is made unique and the list sorted. Registers on the bot
    // and broadcasts (7, 1) naming it. Throws std::bad_alloc, and bot is then freed.
    void AddBot(std::unique_ptr<QToadObj> bot, bool makeUnique);

    // True when bot is in the list.
    bool Contains(const QToadObj* bot) const;

    // True when no bot has a name equivalent to name (equal but for case).
    bool IsBotNameFree(std::string_view name) const;

    // The number of bots named exactly name.
    std::int32_t CountBotsNamed(std::string_view name) const;

    // The first bot named exactly name; null when none.
    QToadObj* FindBotByName(std::string_view name) const;

    // A unique name made from name ("Bot" when empty) for bot (may be null): name itself
    // when free; else, with a numeric suffix cut off, that base when bot is the one bot
    // holding it, or base with the first "-%03d" suffix not held by another bot (up to 999).
    std::string MakeUniqueBotName(const QToadObj* bot, std::string_view name) const;

    // Lets go of a dying bot without freeing it and broadcasts (7, -1) naming it; does not
    // unregister (the bot's destructor calls this after unregistering the list). Nothing
    // happens for a bot not in the list.
    void RemoveBot(QToadObj* bot);

    // Unregisters from every bot and deletes it; the list is empty afterwards.
    void RemoveAll();

    // The first bot in list order whose selected flag is set; null when none.
    QToadObj* GetFirstSelectedBot() const;

    // Clears every bot's history and records a fresh snapshot of its present state.
    void ClearHistory() override;

    // Follows its bots: message 2 brings a bot back under a unique name (and selects it in
    // the modeller when the document has no current bot); message 1 releases the generated
    // objects of a plain bot, then, as message 0, takes the bot out of its morph chain and
    // out of the list.
    void HandleMessage(std::int32_t message, std::int32_t a, QReferenceObject* payload,
                       QReferenceObject* sender) override;

    // The bots in list order.
    const std::vector<QToadObj*>& Bots() const { return bots.Items(); }

private:
    void SortByName();
    void BroadcastChange(std::int32_t change, QToadObj* bot);
    void DeleteAll();

    OwnedList<QToadObj> bots;
};
