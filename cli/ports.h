#pragma once

class Output;

// Lists every serial device with the COMn it stands for, its description and VID:PID, and the
// board's USB link, each with whether this user may open it and, if not, what to do.
int listPorts(Output &output);
