#include "model/toad_morph_animation_settings.h"

#include "model/q_document_base.h"
#include "model/q_toad_obj.h"
#include "model/q_toad_obj_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// A document with a chain of bots of the given durations, the first one selected.
std::vector<QToadObj*> MakeChain(QDocumentBase& document, const std::vector<float>& durations) {
    std::vector<QToadObj*> chain;
    for (float duration : durations) {
        auto owned = std::make_unique<QToadObj>(&document);
        QToadObj* bot = owned.get();
        bot->morphDuration = duration;
        if (!chain.empty()) {
            chain.back()->morphNext = bot;
            bot->morphPrev = chain.back();
        }
        chain.push_back(bot);
        document.BotList()->AddBot(std::move(owned), true);
    }
    chain.front()->morphHead = 1;
    chain.front()->selected = 1;
    return chain;
}

TEST(ToadMorphAnimationSettings, TotalCountsBotsWithASuccessor) {
    QDocumentBase document;
    MakeChain(document, {1.0f, 2.0f, 3.0f});
    float total = -1.0f;
    document.AnimationSettings().GetAnimationTime(total);
    EXPECT_EQ(total, 3.0f);
}

TEST(ToadMorphAnimationSettings, SettingTheTotalScalesTheDurations) {
    QDocumentBase document;
    const auto chain = MakeChain(document, {1.0f, 2.0f, 3.0f});
    document.AnimationSettings().SetAnimationTime(6.0f);
    EXPECT_FLOAT_EQ(chain[0]->morphDuration, 2.0f);
    EXPECT_FLOAT_EQ(chain[1]->morphDuration, 4.0f);
    EXPECT_EQ(chain[2]->morphDuration, 3.0f);

    document.AnimationSettings().SetAnimationTime(0.0f);
    EXPECT_FLOAT_EQ(chain[0]->morphDuration, 1.0f / 30.0f);
    EXPECT_FLOAT_EQ(chain[1]->morphDuration, 1.0f / 30.0f);
}

TEST(ToadMorphAnimationSettings, ChainWithoutTimeGetsOneStepEach) {
    QDocumentBase document;
    const auto chain = MakeChain(document, {0.0f, 0.0f});
    document.AnimationSettings().SetAnimationTime(5.0f);
    EXPECT_FLOAT_EQ(chain[0]->morphDuration, 1.0f / 30.0f);
    EXPECT_EQ(chain[1]->morphDuration, 0.0f);
}

TEST(ToadMorphAnimationSettings, NoSelectedBotGivesZero) {
    QDocumentBase document;
    const auto chain = MakeChain(document, {1.0f, 2.0f});
    chain[0]->selected = 0;
    float total = -1.0f;
    document.AnimationSettings().GetAnimationTime(total);
    EXPECT_EQ(total, 0.0f);
}

TEST(ToadMorphAnimationSettings, CyclicChainEnds) {
    QDocumentBase document;
    const auto chain = MakeChain(document, {1.0f, 2.0f, 4.0f});
    chain[2]->morphNext = chain[0];  // a loop, as a damaged file can link them
    float total = 0.0f;
    document.AnimationSettings().GetAnimationTime(total);
    EXPECT_EQ(total, 7.0f);
    document.AnimationSettings().SetAnimationTime(14.0f);
    EXPECT_FLOAT_EQ(chain[2]->morphDuration, 8.0f);
    chain[2]->morphNext = nullptr;
}

TEST(ToadMorphAnimationSettings, NewBotTakesItsDurationFromTheRate) {
    QDocumentBase document;
    QToadObj bot(&document);
    EXPECT_FLOAT_EQ(bot.morphDuration, 100.0f / 30.0f);
    EXPECT_EQ(bot.TypeId(), TypeIdBot);
    EXPECT_EQ(bot.History().size(), 1u);
    QToadObj loose(nullptr);
    EXPECT_TRUE(loose.History().empty());
    EXPECT_EQ(QToadObj().TypeId(), TypeIdPlain);
}

}  // namespace
