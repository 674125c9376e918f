#ifndef AUTHSERVER_SESSION_KEY_H
#define AUTHSERVER_SESSION_KEY_H

#include "ticket/des.h"

// Fills key with a fresh session key from the system's random source: every
// byte of odd parity, never a weak or semi-weak key. False when the random
// source fails; key is meaningless then.
bool draw_session_key(des_key& key);

#endif
