// The main dialog's window (template 102), run modally by start-up. It is the
// DialogWindow of PondoDlg and routes every message to it.
#pragma once

struct MainDialogStart;

void RunPondoDialog(MainDialogStart& start);
