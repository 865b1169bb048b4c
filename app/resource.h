// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDD_INSTALL   102   // the install dialog template
#define IDI_APP       128   // the application icon group
#define IDC_PROGRESS  1000  // the progress bar in IDD_INSTALL

#ifndef IDC_STATIC
#define IDC_STATIC    (-1)
#endif
