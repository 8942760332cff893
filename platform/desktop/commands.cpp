#include "platform/desktop/commands.h"

#include <QAction>
#include <QMainWindow>
#include <QMenuBar>
#include <QToolBar>

#include <cstring>

namespace desktop {

CommandSet::CommandSet(QMainWindow* frame, Handler onCommand, UpdateHandler onUpdate)
    : frame_(frame), onCommand_(std::move(onCommand)), onUpdate_(std::move(onUpdate)) {}

QAction* CommandSet::ActionFor(int command, const char* text) {
  QAction*& action = actions_[command];
  if (!action) {
    action = new QAction(QString::fromUtf8(text), frame_);
    action->setObjectName(QString::number(command));
    QObject::connect(action, &QAction::triggered, frame_, [this, command] { onCommand_(command); });
  }
  if (action->text().isEmpty()) action->setText(QString::fromUtf8(text));
  return action;
}

void CommandSet::BuildMenuBar(std::span<const MenuItem> items) {
  QMenuBar* bar = frame_->menuBar();
  QMenu* menu = nullptr;
  const char* menuTitle = nullptr;
  for (const MenuItem& item : items) {
    if (!menu || std::strcmp(menuTitle, item.menu) != 0) {
      menuTitle = item.menu;
      menu = bar->addMenu(QString::fromUtf8(item.menu));
      QObject::connect(menu, &QMenu::aboutToShow, frame_, [this] { Update(); });
    }
    if (item.text) {
      menu->addAction(ActionFor(item.command, item.text));
    } else {
      menu->addSeparator();
    }
  }
}

QToolBar* CommandSet::BuildToolBar(std::span<const ToolButton> buttons) {
  QToolBar* toolBar = frame_->addToolBar(QString());
  toolBar->setMovable(false);
  toolBar->setIconSize(QSize(16, 15));
  for (const ToolButton& button : buttons) {
    if (button.command == 0) {
      toolBar->addSeparator();
      continue;
    }
    QAction* action = ActionFor(button.command, "");
    if (action->icon().isNull()) action->setIcon(frame_->style()->standardIcon(button.icon));
    toolBar->addAction(action);
  }
  return toolBar;
}

void CommandSet::SetPrompts(std::span<const CommandPrompt> prompts) {
  for (const CommandPrompt& prompt : prompts) {
    auto it = actions_.find(prompt.command);
    if (it == actions_.end()) continue;
    it->second->setToolTip(QString::fromUtf8(prompt.text));
    it->second->setStatusTip(QString::fromUtf8(prompt.text));
  }
}

QAction* CommandSet::Action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void CommandSet::Update() {
  for (auto& [command, action] : actions_) {
    CommandState state;
    onUpdate_(command, state);
    action->setEnabled(state.enabled);
    // Only a command that shows a check mark is checkable, so a click on a plain one leaves
    // no mark behind.
    action->setCheckable(state.checked);
    action->setChecked(state.checked);
  }
}

}  // namespace desktop
