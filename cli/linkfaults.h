#pragma once

#include "link.h"

#include <QString>

// What a link met, in English for orv4120's standard error (the work log words it in Chinese).
// Names the device where the link named one, and ends with what the system said.
QString linkFaultMessage(const LinkFault &fault);
