#pragma once

#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "scriptedprompts.h"
#include "settings/memoryfields.h"

#include <memory>

namespace veltra::test {

// The window's commands without the window: fields held in memory and a scripted user, as
// the command line's Session has them. For tests of what a command does, not of its button.
struct CoreSession
{
    explicit CoreSession(const QString &port = {})
        : serial(createSerialPort(nullptr)), link(*serial), commands(link, fields, prompts)
    {
        fields.setPortText(port);
    }
    MemoryFields fields;
    ScriptedPrompts prompts;
    std::unique_ptr<SerialPort> serial;
    DeviceLink link;
    Commands commands;
};

} // namespace veltra::test
