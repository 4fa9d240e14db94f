#pragma once

#include "engine/Prompter.h"

namespace tollavar {

// The answer an unattended run gets for a message: the one that changes least (No, or Cancel where
// offered; Yes to undoing DATAGRP.XML's changes); a wait is given up.
MessageAnswer unattendedAnswer(const Message& message);

// The answer that lets a run go on where the unattended one would stop it, as a check does past that
// stop: a missing image skipped, a taken place left to its file, an empty DATAGRP.XML started afresh.
MessageAnswer goOnAnswer(const Message& message);

// Whether a message asks (or makes the run wait) rather than tells.
bool isQuestion(const Message& message);

} // namespace tollavar
