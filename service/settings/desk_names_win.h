#pragma once
// The names that {user} and {computer} stand for (desk_names.h), read from
// Windows for the user this program runs as.
#include "service/settings/desk_names.h"

// The user's logon name, without its domain (GetUserNameW), and the
// computer's DNS host name, without its domain; "" for a name that cannot be
// read.
void ReadDeskNames(DeskNames* names);
