#include "app/SkinMenu.h"

#include "app/StatusBar.h"
#include "common/Text.h"

#include <QAction>
#include <QEvent>
#include <QMenu>

TSkinMenuItem::TSkinMenuItem(const std::string& name, const std::string& caption, int tag)
    : caption_(caption), tag_(tag),
      action_(std::make_unique<QAction>(QString::fromStdString(caption))) {
    setObjectName(QString::fromStdString(name));
    action_->setObjectName(objectName());
    QObject::connect(action_.get(), &QAction::triggered, this, [this] { Triggered(); });
    QObject::connect(action_.get(), &QAction::hovered, this, [this] { Highlight(); });
}

TSkinMenuItem::~TSkinMenuItem() {
    items_.clear();
    submenu_.reset();
}

void TSkinMenuItem::SetCaption(const std::string& caption) {
    caption_ = caption;
    action_->setText(QString::fromStdString(caption));
}

void TSkinMenuItem::SetChecked(bool checked) {
    checked_ = checked;
    // Only a checked item is checkable, so that Qt draws no empty box beside
    // plain commands.
    action_->setCheckable(checked);
    action_->setChecked(checked);
}

void TSkinMenuItem::SetEnabled(bool enabled) {
    enabled_ = enabled;
    action_->setEnabled(enabled);
}

TSkinMenuItem* TSkinMenuItem::Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[index].get();
}

TSkinMenuItem* TSkinMenuItem::Find(const std::string& name) const {
    if (Name() == name) return const_cast<TSkinMenuItem*>(this);
    for (const auto& child : items_)
        if (TSkinMenuItem* found = child->Find(name)) return found;
    return nullptr;
}

int TSkinMenuItem::IndexOf(const TSkinMenuItem* item) const {
    for (int i = 0; i < Count(); ++i)
        if (items_[i].get() == item) return i;
    return -1;
}

TSkinMenuItem* TSkinMenuItem::Add(std::unique_ptr<TSkinMenuItem> item) {
    MakeSubmenu();
    item->parent_ = this;
    submenu_->addAction(item->Action());
    items_.push_back(std::move(item));
    return items_.back().get();
}

void TSkinMenuItem::Clear() {
    items_.clear();
}

void TSkinMenuItem::MakeSubmenu() {
    if (submenu_) return;
    submenu_ = std::make_unique<QMenu>();
    submenu_->setObjectName(objectName() + "_popup");
    if (TSkinMainMenu* owner = Owner()) owner->ApplySkin(submenu_.get());
    action_->setMenu(submenu_.get());
}

TSkinMainMenu* TSkinMenuItem::Owner() const {
    const TSkinMenuItem* p = this;
    while (p->parent_)
        p = p->parent_;
    return p->owner_;
}

void TSkinMenuItem::Click() {
    if (enabled_) action_->trigger();
}

void TSkinMenuItem::Triggered() {
    // Qt toggles a checkable action before it reports the trigger; the check
    // mark belongs to the handler, which sets it as it sees fit.
    action_->setChecked(checked_);
    if (OnClick) OnClick(this);
}

void TSkinMenuItem::Highlight() {
    if (TSkinMainMenu* owner = Owner()) owner->ShowHint(hint_);
}

QString TBlueSkin::StyleSheet() const {
    return QStringLiteral(
        "QMenuBar { background: #0a4ea0; color: white; border: none; padding: 0px; }"
        "QMenuBar::item { background: transparent; padding: 2px 8px; }"
        "QMenuBar::item:selected { background: #3a7ed8; }"
        "QMenuBar::item:pressed { background: #06336c; }"
        "QMenuBar::item:disabled { color: #8aa8d0; }"
        "QMenu { background: #eef4fd; color: #0a2e5c; border: 1px solid #06336c; padding: 2px; }"
        "QMenu::item { padding: 3px 20px 3px 22px; }"
        "QMenu::item:selected { background: #0a4ea0; color: white; }"
        "QMenu::item:disabled { color: #9aa7b8; }"
        "QMenu::indicator { width: 12px; height: 12px; left: 4px; }");
}

TSkinMainMenu::TSkinMainMenu() : root_(std::make_unique<TSkinMenuItem>("MainMenu1", "")) {
    root_->owner_ = this;
}

TSkinMainMenu::~TSkinMainMenu() = default;

namespace {
void SkinTree(const TSkinMainMenu& menu, TSkinMenuItem& item) {
    if (item.Submenu()) menu.ApplySkin(item.Submenu());
    for (int i = 0; i < item.Count(); ++i)
        SkinTree(menu, *item.Items(i));
}
} // namespace

void TSkinMainMenu::SetAnimatedSkin(const TBlueSkin* skin) {
    skin_ = skin;
    SkinTree(*this, *root_);
}

void TSkinMainMenu::ApplySkin(QMenu* menu) const {
    if (!menu) return;
    menu->setStyleSheet(skin_ ? skin_->StyleSheet() : QString());
}

void TSkinMainMenu::ShowHint(const std::string& hint) const {
    if (StatusBar) StatusBar->SetPanelText(StatusBarIndex, Trim(hint));
}

TSkinMenuBar::TSkinMenuBar(QWidget* parent) : QMenuBar(parent) {
    // Placed by its owner; never the platform's global menu bar.
    setNativeMenuBar(false);
}

bool TSkinMenuBar::eventFilter(QObject* watched, QEvent* event) {
    // The bar watches its window for the Alt key, and for that asks the
    // (style-sheet) style a question on every event the window gets; the
    // repaints of a running video come 30 times a second and are never keys.
    switch (event->type()) {
    case QEvent::UpdateRequest:
    case QEvent::Paint:
    case QEvent::MetaCall:
    case QEvent::Timer:
        return false;
    default:
        return QMenuBar::eventFilter(watched, event);
    }
}

void TSkinMenuBar::SetMainMenu(TSkinMainMenu* menu) {
    menu_ = menu;
    clear();
    if (!menu) return;
    setStyleSheet(menu->AnimatedSkin() ? menu->AnimatedSkin()->StyleSheet() : QString());
    TSkinMenuItem& root = menu->Items();
    for (int i = 0; i < root.Count(); ++i)
        addAction(root.Items(i)->Action());
}
