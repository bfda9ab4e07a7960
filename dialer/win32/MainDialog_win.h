// The main dialog's window (template 102), run modally by start-up. It is the
// DialogWindow of PondoDlg and routes every message to it.
#pragma once

class PondoApp;

void RunPondoDialog(PondoApp& app);
