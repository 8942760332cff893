// Commands of a frame window, by number, as menus and toolbars share them: a menu bar and a
// toolbar built from tables, one handler for every command, and an update handler that sets
// each command's enabled and checked state before a menu shows and while the program is idle.
#pragma once

#include <QStyle>

#include <functional>
#include <map>
#include <span>

class QAction;
class QMainWindow;
class QToolBar;

namespace desktop {

// One row of a menu bar: items of the same menu follow each other; a null text is a separator.
struct MenuItem {
  const char* menu;
  const char* text;
  int command;
};

// One toolbar button; command 0 is a separator.
struct ToolButton {
  int command;
  QStyle::StandardPixmap icon;
};

// The tool tip and the status bar prompt of a command.
struct CommandPrompt {
  int command;
  const char* text;
};

// What an update handler may change; a command starts enabled and without a check mark.
struct CommandState {
  bool enabled = true;
  bool checked = false;
};

class CommandSet {
 public:
  using Handler = std::function<void(int command)>;
  using UpdateHandler = std::function<void(int command, CommandState& state)>;

  CommandSet(QMainWindow* frame, Handler onCommand, UpdateHandler onUpdate);
  CommandSet(const CommandSet&) = delete;
  CommandSet& operator=(const CommandSet&) = delete;

  void BuildMenuBar(std::span<const MenuItem> items);
  QToolBar* BuildToolBar(std::span<const ToolButton> buttons);
  void SetPrompts(std::span<const CommandPrompt> prompts);

  // The action of a command that a menu or the toolbar shows; null for an unknown command.
  QAction* Action(int command) const;
  // Asks the update handler about every command.
  void Update();

 private:
  QAction* ActionFor(int command, const char* text);

  QMainWindow* frame_;
  Handler onCommand_;
  UpdateHandler onUpdate_;
  std::map<int, QAction*> actions_;
};

}  // namespace desktop
