// The main window's menus: built from the layout's menu tree, and the device
// and format lists filled from the capture controller.
#include "app/MainForm.h"

#include "app/DesktopServices.h"
#include "app/MainFormLayout.h"
#include "app/MenuTexts.h"
#include "app/StatusBar.h"
#include "common/Text.h"

#include <QString>

namespace {

TSkinMenuItem* FindItem(TSkinMainMenu& menu, const char* name) {
    TSkinMenuItem* item = menu.Find(name);
    if (!item) throw Exception(std::string("The main menu lacks its item ") + name + ".");
    return item;
}

} // namespace

std::unique_ptr<TSkinMenuItem> TMainForm::MakeItem(const std::string& name,
                                                   const std::string& caption, int tag,
                                                   void (TMainForm::*handler)(QObject*)) {
    auto item = std::make_unique<TSkinMenuItem>(name, caption, tag);
    if (handler) Wire(item.get(), handler);
    return item;
}

void TMainForm::Wire(TSkinMenuItem* item, void (TMainForm::*handler)(QObject*)) {
    item->OnClick = [this, handler](TSkinMenuItem* sender) {
        RunHandler([&] { (this->*handler)(sender); });
    };
}

void TMainForm::BuildMenu() {
    for (const TMenuLayout& entry : MainFormMenu()) {
        TSkinMenuItem& parent =
            entry.Parent ? *FindItem(mainMenu_, entry.Parent) : mainMenu_.Items();
        TSkinMenuItem* item = parent.Add(MakeItem(entry.Name, entry.Caption, 0, nullptr));
        item->SetHint(entry.Hint);
        if (entry.Submenu) item->MakeSubmenu();
        item->SetEnabled(entry.EnabledAtStart);
    }
    file1 = FindItem(mainMenu_, "file1");
    fileexit1 = FindItem(mainMenu_, "fileexit1");
    filewatch1 = FindItem(mainMenu_, "filewatch1");
    filephone1 = FindItem(mainMenu_, "filephone1");
    fileviewers1 = FindItem(mainMenu_, "fileviewers1");
    filerelay1 = FindItem(mainMenu_, "filerelay1");
    video1 = FindItem(mainMenu_, "video1");
    videoconnect1 = FindItem(mainMenu_, "videoconnect1");
    videoformats1 = FindItem(mainMenu_, "videoformats1");
    audio1 = FindItem(mainMenu_, "audio1");
    audioconnect1 = FindItem(mainMenu_, "audioconnect1");
    audioinput1 = FindItem(mainMenu_, "audioinput1");
    audioformats1 = FindItem(mainMenu_, "audioformats1");
    about2 = FindItem(mainMenu_, "about2");
    aboutabout1 = FindItem(mainMenu_, "aboutabout1");
    Wire(fileexit1, &TMainForm::fileexit1Click);
    Wire(filewatch1, &TMainForm::filewatch1Click);
    Wire(filephone1, &TMainForm::filephone1Click);
    Wire(fileviewers1, &TMainForm::fileviewers1Click);
    Wire(filerelay1, &TMainForm::filerelay1Click);
    Wire(aboutabout1, &TMainForm::aboutabout1Click);

    mainMenu_.StatusBar = StatusBar;
    mainMenu_.StatusBarIndex = 0;
    mainMenu_.SetAnimatedSkin(&blueSkin_);
    MenuBar1->SetMainMenu(&mainMenu_);
}

TListReceiver TMainForm::MenuList(TSkinMenuItem* submenu, const char* prefix,
                                  void (TMainForm::*handler)(QObject*), const char* textPrefix) {
    return {[submenu] { submenu->Clear(); },
            [=, this](int n, const std::string& text) {
                submenu->Add(MakeItem(prefix + IntToStr(n),
                                      textPrefix ? MenuFormatText(text, textPrefix) : text, n,
                                      handler));
            }};
}

void TMainForm::CheckOnly(TSkinMenuItem* submenu, int index) {
    for (int i = 0; i < submenu->Count(); ++i)
        submenu->Items(i)->SetChecked(false);
    if (TSkinMenuItem* item = submenu->Items(index)) item->SetChecked(true);
}
