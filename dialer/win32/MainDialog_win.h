// The main dialog's window (template 102), run modally by start-up.
#pragma once

class PondoApp;

void RunPondoDialog(PondoApp& app);
