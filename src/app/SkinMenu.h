#pragma once
// The skinned menu: a menu bar showing a main menu whose items are named,
// tagged, checkable, enabled or not, carry a hint for the status bar and call
// a click handler that receives the clicked item. The look comes from a skin
// (TBlueSkin) applied as a Qt style sheet.
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMenuBar>

class QAction;
class QMenu;
class TSkinMainMenu;
class TSkinMenuItem;
class TStatusBar;

using TMenuClickEvent = std::function<void(TSkinMenuItem* Sender)>;

class TSkinMenuItem : public QObject {
  public:
    // name becomes the object name (the item's own name, "videoconnect1").
    TSkinMenuItem(const std::string& name, const std::string& caption, int tag = 0);
    ~TSkinMenuItem() override;

    std::string Name() const { return objectName().toStdString(); }
    // The caption as given, "&" marking the access key.
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint) { hint_ = hint; }
    TMenuClickEvent OnClick;

    // Children, in menu order. An item with a submenu opens it on a click.
    int Count() const { return static_cast<int>(items_.size()); }
    TSkinMenuItem* Items(int index) const;
    TSkinMenuItem* Find(const std::string& name) const; // this item or a descendant
    TSkinMenuItem* Parent() const { return parent_; }
    int IndexOf(const TSkinMenuItem* item) const;
    TSkinMenuItem* Add(std::unique_ptr<TSkinMenuItem> item);
    // Removes and frees every child.
    void Clear();
    // Gives the item a submenu even while it has no children, so that it shows
    // as a (possibly empty) submenu.
    void MakeSubmenu();
    bool HasSubmenu() const { return submenu_ != nullptr; }

    // A click as the user makes it: nothing when disabled.
    void Click();
    // The item's hint on its way to the status bar (the highlight of the item).
    void Highlight();

    QAction* Action() const { return action_.get(); }
    QMenu* Submenu() const { return submenu_.get(); }

  private:
    friend class TSkinMainMenu;
    TSkinMainMenu* Owner() const;
    void Triggered();

    std::string caption_;
    int tag_ = 0;
    bool checked_ = false;
    bool enabled_ = true;
    std::string hint_;
    TSkinMenuItem* parent_ = nullptr;
    TSkinMainMenu* owner_ = nullptr; // set on the root item only
    // Destroyed in reverse order: children first, then the submenu that
    // shows their actions, then this item's own action.
    std::unique_ptr<QAction> action_;
    std::unique_ptr<QMenu> submenu_;
    std::vector<std::unique_ptr<TSkinMenuItem>> items_;
};

// The menu skin: colours and fonts of bar and popups.
class TBlueSkin {
  public:
    QString StyleSheet() const;
};

class TSkinMainMenu {
  public:
    TSkinMainMenu();
    ~TSkinMainMenu();

    // The root whose children are the bar's entries.
    TSkinMenuItem& Items() { return *root_; }
    TSkinMenuItem* Find(const std::string& name) const { return root_->Find(name); }

    // Hints of highlighted items go to this panel, trimmed.
    TStatusBar* StatusBar = nullptr;
    int StatusBarIndex = 0;
    void SetAnimatedSkin(const TBlueSkin* skin);
    const TBlueSkin* AnimatedSkin() const { return skin_; }

    // The look for a popup of this menu.
    void ApplySkin(QMenu* menu) const;
    void ShowHint(const std::string& hint) const;

  private:
    std::unique_ptr<TSkinMenuItem> root_;
    const TBlueSkin* skin_ = nullptr;
};

class TSkinMenuBar : public QMenuBar {
  public:
    explicit TSkinMenuBar(QWidget* parent);
    // Shows the top-level items of menu (again) in the bar.
    void SetMainMenu(TSkinMainMenu* menu);
    TSkinMainMenu* MainMenu() const { return menu_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    TSkinMainMenu* menu_ = nullptr;
};
