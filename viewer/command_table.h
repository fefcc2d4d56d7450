#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>
#include <vector>

class QAction;
class QMenu;

// What an update rule says about one command: enabled or not, and its check mark.
class CCmdUI {
public:
    explicit CCmdUI(int id) : id_(id) {}

    int Id() const { return id_; }
    void Enable(bool enabled = true) { enabled_ = enabled; }
    void SetCheck(bool checked = true) { checked_ = checked; }

    bool Enabled() const { return enabled_; }
    std::optional<bool> Checked() const { return checked_; }

private:
    int id_;
    bool enabled_ = true;
    std::optional<bool> checked_;
};

// The frame's command routing: one handler and one update rule per command id, and every
// QAction that sends the id (main menu, toolbar, accelerator, context menus). A command
// without a handler stays disabled unless its update rule says otherwise; update rules
// run before a menu shows, after every command and on an idle timer.
class CCommandTable : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;
    using UpdateRule = std::function<void(CCmdUI&)>;

    explicit CCommandTable(QObject* parent = nullptr);

    void SetHandler(int id, Handler handler);
    void SetUpdateRule(int id, UpdateRule rule);
    // The action sends id when triggered and shows the id's state. The first action added
    // for an id is its main action.
    void AddAction(int id, QAction* action);
    QAction* Action(int id) const;
    // Menus run the update rules just before they open.
    void WatchMenu(QMenu* menu);

    // Runs the command as if the user chose it: only when its update rule enables it.
    // Returns whether the handler ran.
    bool Execute(int id);
    // The state the update rule gives now.
    CCmdUI State(int id) const;
    bool IsEnabled(int id) const { return State(id).Enabled(); }
    bool IsChecked(int id) const { return State(id).Checked().value_or(false); }

    void UpdateAll();

private:
    struct Command {
        Handler handler;
        UpdateRule update;
        std::vector<QAction*> actions;
    };

    void Apply(int id, Command& command);

    std::map<int, Command> commands_;
    QTimer idleTimer_;
};
