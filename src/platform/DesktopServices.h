#pragma once

// Every service of the desktop the core uses, in one place: each backend builds one and hands it
// to the shell, which borrows it for its whole life.

#include "platform/AtomicFile.h"
#include "platform/Cipher.h"
#include "platform/DesktopNotifications.h"
#include "platform/FileReader.h"
#include "platform/HotKeys.h"
#include "platform/ImageCodec.h"
#include "platform/InputEvents.h"
#include "platform/PanelWindow.h"
#include "platform/Pasteboard.h"
#include "platform/ProcessRunner.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/SecretStore.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

namespace quenlit::platform {

struct DesktopServices {
    Scheduler& scheduler;
    Workspace& workspace;
    WindowControl& windowControl;
    Screens& screens;
    InputSynthesizer& input;
    // Absent on a desktop that lets no program see the keys typed into others: the text expander
    // and the app toggles then stay off.
    KeyboardEvents* keyboard;
    HotKeys& hotKeys;
    Pasteboard& pasteboard;
    PanelWindowFactory& windows;
    ImageCodec& imageCodec;
    SecretStore& secretStore;
    AtomicFile& files;
    ProcessRunner& processes;
    ProcessInspector& processInspector;
    FileReader& fileReader;
    // Tells the user about launches that failed; none: the log line alone.
    DesktopNotifications* notifications = nullptr;
    // Opens an earlier release's encrypted history; none: it is not imported.
    Cipher* cipher = nullptr;
};

}  // namespace quenlit::platform
