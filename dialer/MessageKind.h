// What a message box says about itself. The ports carry the kind; only the Win32
// side knows which MessageBoxA style bits show it.
#pragma once

enum class MessageKind {
    Plain,       // an OK button, no icon
    Information, // an OK button and the information icon
};
