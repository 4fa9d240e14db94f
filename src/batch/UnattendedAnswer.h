#pragma once

#include "engine/Prompter.h"

namespace tollavar {

// The answer an unattended run gets for a message: the one that changes least (No, or Cancel where
// offered; Yes to undoing DATAGRP.XML's changes); a wait is given up.
MessageAnswer unattendedAnswer(const Message& message);

// Whether a message asks (or makes the run wait) rather than tells.
bool isQuestion(const Message& message);

} // namespace tollavar
