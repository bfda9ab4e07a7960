// Product name, version and copyright stamped into both deliverables' version
// information and the installer, so the three always agree. Plain defines only:
// the resource compiler and makensis read this file too.
#pragma once

#define PONDO_PRODUCT_NAME "TALVEN PPPOE Client"
#define PONDO_COMPANY_NAME "The Pondo Developers"
#define PONDO_COPYRIGHT "Copyright (C) 2026 The Pondo Developers"
#define PONDO_VERSION_BINARY 1, 0, 0, 0
#define PONDO_VERSION_TEXT "1.0.0.0"
