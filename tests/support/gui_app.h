#pragma once

class QGuiApplication;

// The process's QGuiApplication, created on first use (offscreen when QT_QPA_PLATFORM says
// so) and kept until the process ends. Tests that need none simply never ask for it.
QGuiApplication& TestGuiApplication();
