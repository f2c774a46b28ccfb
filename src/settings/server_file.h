#pragma once
// qorvel.ini in the current directory: the server names, the mail address and the APOP choice.

// Sets SmtpServer, Pop3Server, MailAddress and ApopFlag from the file's lines; a missing file leaves them.
void ReadServerFile();
#include "settings/profile_keys.h"

// Replaces the file with the four lines SMTP=, POP3=, MAIL=, APOP=, in one atomic replacement.
settings::Saved WriteServerFile();
