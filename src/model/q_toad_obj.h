#pragma once

// QToadObj is one bot: the values from which the Sproutling engine regenerates the bot's
// parts, its morph-chain links and its snapshot history. A bot of a document (type id 7)
// registers on the document and leaves the document's bot list when it is destroyed.
//
// The record holds the fields that the document, its bot list and the morph animation
// settings use; the parameter rows beyond the mode row, the view state of morph bots and the
// custom primitives join it with the bot subsystem.

#include "object/q_reference_object.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class QDocumentBase;

// Copy masks of QToadObj::CopyMasked.
inline constexpr std::uint32_t BotCopyParameters = 0x01;
inline constexpr std::uint32_t BotCopyMorph = 0x02;
inline constexpr std::uint32_t BotCopyAll = 127;
inline constexpr std::uint32_t BotChangeMask = 19;  // the mask of an ordinary change

class QToadObj : public QReferenceObject {
public:
    // A record that belongs to no document, type id 0; the bot list uses one as the key of
    // its name searches.
    QToadObj();

    // A bot of `document` (may be null), type id 7: registers on the document, takes its
    // morph duration from the document's animation rate and records its first snapshot. With
    // a null document the bot registers nowhere and has no snapshot.
    explicit QToadObj(QDocumentBase* document);

    // Deletes the snapshots; with an owner document leaves the morph chain, unregisters from
    // the document and leaves the document's bot list; then broadcasts message 0.
    ~QToadObj() override;

    QToadObj(const QToadObj&) = delete;
    QToadObj& operator=(const QToadObj&) = delete;

    // Deletes every snapshot, then empties the base histories.
    void ClearHistory() override;

    // Puts a snapshot of the bot's present state at the front of the history; the bot and
    // the snapshot take `mask` as their change mask.
    void PushSnapshot(std::uint32_t mask);

    // Takes the bot out of its morph chain: a head passes the head role to its successor,
    // any other bot joins its neighbours; the bot's own links and head flag are cleared.
    void UnlinkMorph();

    // Drops the references of the scene objects the bot generated (its referrers of type
    // id 1) on the bot.
    void ReleaseObjects();

    // True when the bot has a morph predecessor or successor or heads a chain.
    bool AnyStateFlagSet() const;

    // True when bits 0 and 1 of the mode word (bt column 0, truncated) are clear.
    bool IsModeBits01Clear() const;

    // The mode word: bt column 0 truncated toward zero.
    std::int32_t ModeWord() const;

    std::string GetName() const { return name; }

    // Copies the groups of src that mask selects into dst (see the copy masks).
    static void CopyMasked(QToadObj& dst, const QToadObj& src, std::uint32_t mask);

    const std::deque<std::unique_ptr<QToadObj>>& History() const { return history; }

    std::array<float, 22> bt{};  // the first parameter row; column 0 is the mode word
    QDocumentBase* ownerDoc = nullptr;
    QToadObj* morphPrev = nullptr;
    QToadObj* morphNext = nullptr;
    std::uint8_t morphHead = 0;
    std::uint8_t selected = 0;
    std::int32_t regenLevel = 0;  // 0, 1 or 2: pending regeneration
    std::int32_t settingC = 0;
    std::uint8_t settingD = 0;
    std::int32_t kind = 0;
    std::int32_t objSource = 0;
    std::int32_t morphMode = 1;
    std::int32_t morphSteps = 4;
    std::array<float, 12> morphValues{1.0f,  100.0f, 100.0f, 50.0f, 100.0f, 50.0f,
                                      50.0f, 2.0f,   0.0f,   0.0f,  0.0f,   0.0f};
    float morphDuration = 0.0f;  // length of the morph to the next bot of the chain
    std::uint32_t changeMask = 0;
    std::string name;
    // The bot's "Toad" element as a scene file held it, kept whole so that the parts of the
    // element the bot does not read yet are not lost; empty for a bot made in the program.
    std::string storedElement;

private:
    std::int32_t historyIndex = 0;
    std::deque<std::unique_ptr<QToadObj>> history;  // snapshots, newest first
};
