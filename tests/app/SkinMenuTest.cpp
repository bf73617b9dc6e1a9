// The skinned menu: tree building, clicks, check marks, enabled state, hints.
#include "app/SkinMenu.h"
#include "app/StatusBar.h"
#include "app/Widgets.h"

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct SkinMenu : ::testing::Test {
    QWidget window;
    TStatusBar* status = nullptr;
    TSkinMainMenu menu;
    TSkinMenuItem* top = nullptr;
    TBlueSkin skin;

    SkinMenu() {
        status = Child<TStatusBar>(&window);
        status->setGeometry(0, 0, 300, 19);
        status->AddPanel(250);
        menu.StatusBar = status;
        top = menu.Items().Add(std::make_unique<TSkinMenuItem>("top1", "&top"));
        top->MakeSubmenu();
        menu.SetAnimatedSkin(&skin);
    }
};

TEST_F(SkinMenu, ClickReachesHandlerWithTheItem) {
    TSkinMenuItem* clicked = nullptr;
    auto item = std::make_unique<TSkinMenuItem>("leaf1", "&leaf", 7);
    item->OnClick = [&](TSkinMenuItem* s) { clicked = s; };
    TSkinMenuItem* leaf = top->Add(std::move(item));
    leaf->Action()->trigger(); // what a user's click does
    EXPECT_EQ(clicked, leaf);
    EXPECT_EQ(clicked->Tag(), 7);
    EXPECT_EQ(menu.Find("leaf1"), leaf);
    EXPECT_EQ(top->Submenu()->actions().size(), 1);
}

TEST_F(SkinMenu, DisabledItemIgnoresClicks) {
    int clicks = 0;
    TSkinMenuItem* leaf = top->Add(std::make_unique<TSkinMenuItem>("leaf1", "leaf"));
    leaf->OnClick = [&](TSkinMenuItem*) { ++clicks; };
    leaf->SetEnabled(false);
    leaf->Click();
    leaf->Action()->trigger();
    EXPECT_EQ(clicks, 0);
    leaf->SetEnabled(true);
    leaf->Click();
    EXPECT_EQ(clicks, 1);
}

TEST_F(SkinMenu, CheckMarkBelongsToTheItemNotToQt) {
    TSkinMenuItem* leaf = top->Add(std::make_unique<TSkinMenuItem>("leaf1", "leaf"));
    leaf->SetChecked(true);
    EXPECT_TRUE(leaf->Action()->isChecked());
    leaf->Click(); // Qt would toggle a checkable action; the handler decides
    EXPECT_TRUE(leaf->Checked());
    EXPECT_TRUE(leaf->Action()->isChecked());
    leaf->SetChecked(false);
    leaf->Click();
    EXPECT_FALSE(leaf->Action()->isChecked());
}

TEST_F(SkinMenu, ClearFreesChildrenAndTheirActions) {
    for (int i = 0; i < 3; ++i)
        top->Add(std::make_unique<TSkinMenuItem>("n" + std::to_string(i), "x", i));
    EXPECT_EQ(top->Count(), 3);
    top->Clear();
    EXPECT_EQ(top->Count(), 0);
    EXPECT_TRUE(top->Submenu()->actions().isEmpty());
    EXPECT_EQ(top->Items(0), nullptr);
}

TEST_F(SkinMenu, HintIsTrimmedIntoThePanelAndSkinApplied) {
    TSkinMenuItem* leaf = top->Add(std::make_unique<TSkinMenuItem>("leaf1", "leaf"));
    leaf->SetHint("  the hint  ");
    emit leaf->Action()->hovered();
    EXPECT_EQ(status->PanelText(0), "the hint");
    EXPECT_FALSE(top->Submenu()->styleSheet().isEmpty());
}

} // namespace
