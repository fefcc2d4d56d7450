#include "viewer/colour_management.h"

#include "imagelib/decode_context.h"
#include "platform/monitor_profile.h"
#include "platform/profile.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"

#include <QString>

namespace {

const char* const kSettings = "Settings";
const char* const kEntry = "ColourManagement";

}  // namespace

CColourManagement::CColourManagement()
    : on_(Profile::GetInt(QString::fromLatin1(kSettings), QString::fromLatin1(kEntry), 1) != 0),
      monitorProfile_(ReadMonitorProfile()) {
    Apply();
}

void CColourManagement::RegisterCommands(CCommandTable& commands, std::function<void()> reshow) {
    reshow_ = std::move(reshow);
    commands.SetHandler(ID_COLOUR_MANAGEMENT, [this] { Toggle(); });
    commands.SetUpdateRule(ID_COLOUR_MANAGEMENT, [this](CCmdUI& ui) { ui.SetCheck(on_); });
}

void CColourManagement::Toggle() {
    on_ = !on_;
    Profile::WriteInt(QString::fromLatin1(kSettings), QString::fromLatin1(kEntry), on_ ? 1 : 0);
    Apply();
    if (reshow_) reshow_();
}

void CColourManagement::Apply() const { SetDefaultColourManagement(on_, monitorProfile_); }
