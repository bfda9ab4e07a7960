/* The ids of Ostrel.dll's own RCDATA resources: the one place they are written.
   Read by the resource scripts (win32/Ostrel.rc, win32/UpdateKey.rc.in) and, through
   the constants of ModuleResources.h and UpdateClnt.h, by the code. Plain macros,
   so that the resource compiler can read this file too. */
#ifndef OSTREL_RESOURCE_IDS_H
#define OSTREL_RESOURCE_IDS_H

/* The version stamp: five 16-bit words, the first 0xFFFF. */
#define IDR_VERSION_STAMP 129
/* The program signature list (tools/signature_list.py). */
#define IDR_SIGNATURE_LIST 131
/* The update signer's public key (PEM), in a library built with one. */
#define IDR_UPDATE_KEY 133
/* The release sequence such a library was built at (32 bits, little-endian). */
#define IDR_RELEASE_SEQUENCE 134

#endif
