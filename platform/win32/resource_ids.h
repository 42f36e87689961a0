// Resource ids shared by quorvel.rc.in and the code that loads them.
#pragma once

// The application icon: Explorer shows the lowest-numbered icon group.
#define IDI_QUORVEL 1
