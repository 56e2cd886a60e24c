#include "object/owned_list.h"

#include "object/undo_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// A model object that notes its death (with "!" when its list still held it then),
// announces it with message 0 as the model classes do, and can end its own life.
class Element : public QReferenceObject {
public:
    Element(std::string elementName, std::vector<std::string>* deathLog,
            const OwnedList<Element>* watchedList = nullptr)
        : name(std::move(elementName)), deaths(deathLog), watched(watchedList) {}

    ~Element() override {
        deaths->push_back(watched != nullptr && watched->Contains(this) ? name + "!" : name);
        Broadcast(this, MessageDestroyed, 0);
    }

    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;

    void EndOwnLife() { DestroySelf(); }

    std::string name;
    std::vector<std::string>* deaths = nullptr;
    const OwnedList<Element>* watched = nullptr;
};

// A collection as the model's are: it owns its elements through an OwnedList, registers on
// each, and follows their deletion, restoration and destruction.
class Holder : public QReferenceObject {
public:
    Holder() = default;
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    ~Holder() override {
        for (std::unique_ptr<Element>& element : elements.ReleaseAll()) {
            RemoveReference(element.get(), this, 0);
            element.reset();
        }
    }

    Element* Add(std::string name, std::vector<std::string>* deaths) {
        auto element = std::make_unique<Element>(std::move(name), deaths);
        AddReference(element.get(), this, 0);
        return elements.Append(std::move(element));
    }

    void HandleMessage(std::int32_t message, std::int32_t, QReferenceObject*,
                       QReferenceObject* sender) override {
        auto* element = static_cast<Element*>(sender);
        switch (message) {
            case MessageDestroyed:
                elements.Forget(sender);
                break;
            case MessageDeleted:
                elements.HandOver(element);
                break;
            case MessageRestored:
                if (!elements.Contains(element)) elements.TakeBack(elements.Count(), element);
                break;
            default:
                break;
        }
    }

    OwnedList<Element> elements;
};

TEST(OwnedList, HandlesGiveElementsAwayAndTheListFreesTheRestFirstToLast) {
    std::vector<std::string> deaths;
    auto list = std::make_unique<OwnedList<Element>>();
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        list->Append(std::make_unique<Element>(name, &deaths, list.get()));
    }
    std::vector<std::unique_ptr<Element>> tail = list->ReleaseFrom(3);
    std::unique_ptr<Element> first = list->Release(0);
    ASSERT_EQ(list->Count(), 2u);
    EXPECT_EQ((*list)[0]->name, "b");
    EXPECT_TRUE(deaths.empty());
    first.reset();
    tail.clear();
    EXPECT_EQ(deaths, (std::vector<std::string>{"a", "d", "e"}));

    // No element is still in the list while it dies ("!" would mark one).
    list.reset();
    EXPECT_EQ(deaths, (std::vector<std::string>{"a", "d", "e", "b", "c"}));
}

TEST(OwnedList, MovingPassesTheElementsOn) {
    std::vector<std::string> deaths;
    auto list = std::make_unique<OwnedList<Element>>();
    list->Append(std::make_unique<Element>("x", &deaths));
    OwnedList<Element> moved(std::move(*list));
    EXPECT_TRUE(list->IsEmpty());
    list.reset();
    EXPECT_TRUE(deaths.empty());
    OwnedList<Element> other;
    other.Append(std::make_unique<Element>("y", &deaths));
    other = std::move(moved);
    EXPECT_EQ(deaths, (std::vector<std::string>{"y"}));
    ASSERT_EQ(other.Count(), 1u);
    EXPECT_EQ(other[0]->name, "x");
}

TEST(OwnedList, AnElementEndingItsOwnLifeOnlyLeavesTheList) {
    std::vector<std::string> deaths;
    auto holder = std::make_unique<Holder>();
    Element* a = holder->Add("a", &deaths);
    Element* b = holder->Add("b", &deaths);
    Element* c = holder->Add("c", &deaths);
    b->EndOwnLife();
    EXPECT_EQ(holder->elements.Items(), (std::vector<Element*>{a, c}));
    holder.reset();
    EXPECT_EQ(deaths, (std::vector<std::string>{"b", "a", "c"}));
}

// An element deleted undoably is the undo history's until it is restored, and the list's
// again afterwards; whichever of the two owns it frees it, once, whoever goes first.
TEST(OwnedList, UndoableDeletionPassesTheElementBetweenListAndHistory) {
    struct Case {
        const char* name;
        bool restored;
        bool historyForgetsFirst;  // else the list goes first
        std::size_t freedByTheFirst;
    };
    const Case cases[] = {
        {"deleted, the list goes first", false, false, 0},
        {"deleted, the history forgets it first", false, true, 1},
        {"restored, the list goes first", true, false, 1},
        {"restored, the history forgets it first", true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> deaths;
        auto history = std::make_unique<UndoHistory>();
        SetCurrentUndoHistory(history.get());
        auto holder = std::make_unique<Holder>();
        holder->Add("kept", &deaths);
        Element* element = holder->Add("element", &deaths);
        element->MarkCreated();

        history->BeginStep("delete");
        element->MarkDeleted();
        EXPECT_FALSE(holder->elements.Contains(element));
        if (c.restored) {
            element->MarkCreated();
            QReferenceObject::Broadcast(element, MessageRestored, 0);
            EXPECT_TRUE(holder->elements.Contains(element));
        }

        const auto ageOut = [&history] {
            for (std::int32_t i = 0; i < UndoStepLimit; ++i) history->BeginStep("later");
        };
        if (c.historyForgetsFirst) {
            ageOut();
            EXPECT_EQ(deaths.size(), c.freedByTheFirst);
            holder.reset();
        } else {
            holder.reset();
            EXPECT_EQ(deaths.size(), c.freedByTheFirst + 1);  // "kept" goes with the list
            ageOut();
        }
        history.reset();
        EXPECT_EQ(std::count(deaths.begin(), deaths.end(), "element"), 1);
        EXPECT_EQ(deaths.size(), 2u);
    }
}

TEST(OwnedListDeathTest, TakingBackAnElementStillDeletedStops) {
    // The undo history would free such an element under the list.
    EXPECT_DEATH(
        {
            std::vector<std::string> deaths;
            UndoHistory history;
            SetCurrentUndoHistory(&history);
            Holder holder;
            Element* element = holder.Add("element", &deaths);
            element->MarkDeleted();
            holder.elements.TakeBack(0, element);
        },
        "IsAlive");
}

}  // namespace
