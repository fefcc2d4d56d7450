#include "viewer/command_table.h"

#include <QAction>
#include <QMenu>

namespace {
// Often enough that toolbar buttons follow the state without a visible lag.
constexpr int kIdleUpdateMs = 150;
}  // namespace

CCommandTable::CCommandTable(QObject* parent) : QObject(parent) {
    idleTimer_.setInterval(kIdleUpdateMs);
    connect(&idleTimer_, &QTimer::timeout, this, &CCommandTable::UpdateAll);
    idleTimer_.start();
}

void CCommandTable::SetHandler(int id, Handler handler) {
    Command& command = commands_[id];
    command.handler = std::move(handler);
    Apply(id, command);
}

void CCommandTable::SetUpdateRule(int id, UpdateRule rule) {
    Command& command = commands_[id];
    command.update = std::move(rule);
    Apply(id, command);
}

void CCommandTable::AddAction(int id, QAction* action) {
    Command& command = commands_[id];
    command.actions.push_back(action);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
    connect(action, &QObject::destroyed, this, [this, id, action] {
        auto found = commands_.find(id);
        if (found == commands_.end()) return;
        std::erase(found->second.actions, action);
    });
    Apply(id, command);
}

QAction* CCommandTable::Action(int id) const {
    const auto found = commands_.find(id);
    if (found == commands_.end() || found->second.actions.empty()) return nullptr;
    return found->second.actions.front();
}

void CCommandTable::WatchMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, &CCommandTable::UpdateAll);
}

CCmdUI CCommandTable::State(int id) const {
    CCmdUI ui(id);
    const auto found = commands_.find(id);
    if (found == commands_.end()) {
        ui.Enable(false);
        return ui;
    }
    const Command& command = found->second;
    ui.Enable(static_cast<bool>(command.handler));
    if (command.update) command.update(ui);
    return ui;
}

bool CCommandTable::Execute(int id) {
    const auto found = commands_.find(id);
    if (found == commands_.end() || !found->second.handler || !State(id).Enabled()) {
        UpdateAll();
        return false;
    }
    // A copy: the handler may replace itself or destroy actions.
    const Handler handler = found->second.handler;
    handler();
    UpdateAll();
    return true;
}

void CCommandTable::UpdateAll() {
    for (auto& [id, command] : commands_) Apply(id, command);
}

void CCommandTable::Apply(int id, Command& command) {
    if (command.actions.empty()) return;
    const CCmdUI ui = State(id);
    for (QAction* action : command.actions) {
        action->setEnabled(ui.Enabled());
        if (ui.Checked()) {
            action->setCheckable(true);
            action->setChecked(*ui.Checked());
        } else if (action->isCheckable()) {
            action->setChecked(false);
        }
    }
}
