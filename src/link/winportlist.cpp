#include "link/winportlist.h"

#include "link/portdetails.h"
#include "link/serialport.h"

#include <qt_windows.h>

// The GUID definitions need initguid.h first.
#include <initguid.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <array>

namespace veltra {
namespace {

// A port driver's device sits on its own bus (FTDIBUS) or an interface of a composite device,
// below the USB device that has the serial number: two levels up are enough for both.
constexpr int kAncestorsAsked = 3;

QString textProperty(HDEVINFO devices, SP_DEVINFO_DATA &device, DWORD property)
{
    std::array<wchar_t, 512> text{};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                           reinterpret_cast<BYTE *>(text.data()),
                                           DWORD(sizeof(text) - sizeof(wchar_t)), nullptr) ||
        type != REG_SZ)
        return {};
    return QString::fromWCharArray(text.data());
}

QStringList multiTextProperty(HDEVINFO devices, SP_DEVINFO_DATA &device, DWORD property)
{
    // Two closing NULs that the call never overwrites, whatever the driver wrote.
    std::array<wchar_t, 1024> text{};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                           reinterpret_cast<BYTE *>(text.data()),
                                           DWORD(sizeof(text) - 2 * sizeof(wchar_t)), nullptr) ||
        type != REG_MULTI_SZ)
        return {};
    QStringList strings;
    for (const wchar_t *next = text.data(); *next; next += wcslen(next) + 1)
        strings << QString::fromWCharArray(next);
    return strings;
}

// The device's instance ID, then its parents'.
QStringList instanceIds(DEVINST node)
{
    QStringList ids;
    for (int level = 0; level < kAncestorsAsked; ++level) {
        std::array<wchar_t, MAX_DEVICE_ID_LEN + 1> id{};
        if (CM_Get_Device_IDW(node, id.data(), MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
            break;
        ids << QString::fromWCharArray(id.data());
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
            break;
        node = parent;
    }
    return ids;
}

std::optional<QString> registryText(HKEY key, const wchar_t *name)
{
    std::array<wchar_t, 256> text{};
    DWORD size = DWORD(sizeof(text) - sizeof(wchar_t));
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text.data()), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    return QString::fromWCharArray(text.data());
}

std::optional<int> registryNumber(HKEY key, const wchar_t *name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return int(value);
}

// The devices of the device manager's Ports class that have a port name, and what the system
// says of each.
QList<PresentPort> portDevices()
{
    QList<PresentPort> ports;
    const HDEVINFO devices =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        // The device's hardware key, its "Device Parameters": the port name, and the settings
        // of the driver's Advanced page.
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const std::optional<QString> portName = registryText(key, L"PortName");
        const std::optional<int> latencyTimer = registryNumber(key, L"LatencyTimer");
        RegCloseKey(key);
        if (!portName)
            continue;
        PresentPort port{*portName};
        port.description = textProperty(devices, device, SPDRP_FRIENDLYNAME);
        if (port.description.isEmpty())
            port.description = textProperty(devices, device, SPDRP_DEVICEDESC);
        port.manufacturer = textProperty(devices, device, SPDRP_MFG);
        port.usbId = usbIdFromHardwareIds(multiTextProperty(devices, device, SPDRP_HARDWAREID));
        const QStringList ids = instanceIds(device.DevInst);
        port.serialNumber = usbSerialNumber(ids);
        port.bluetooth = isBluetoothPort(ids.value(0));
        if (ids.value(0).startsWith(QLatin1String("FTDIBUS\\"), Qt::CaseInsensitive))
            port.latencyTimerMs = latencyTimer;
        ports.append(port);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

} // namespace

QStringList listedSerialPorts()
{
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256] = {};
        DWORD nameLength = 255;
        wchar_t data[256] = {};
        DWORD dataSize = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        names << QString::fromWCharArray(data);
    }
    RegCloseKey(key);
    return names;
}

std::optional<int> ftdiLatencyTimerMs(const QString &portName)
{
    for (const PresentPort &port : portDevices())
        if (port.name.compare(portName, Qt::CaseInsensitive) == 0)
            return port.latencyTimerMs;
    return std::nullopt;
}

QList<PresentPort> presentPorts()
{
    // SERIALCOMM says which ports there are (a driver outside the Ports class too); the device
    // manager, what they are.
    const QList<PresentPort> devices = portDevices();
    QList<PresentPort> ports;
    for (const QString &name : listedSerialPorts()) {
        const auto device =
            std::find_if(devices.begin(), devices.end(),
                         [&](const PresentPort &port) { return port.name == name; });
        ports.append(device != devices.end() ? *device : PresentPort{name});
    }
    std::sort(ports.begin(), ports.end(), [](const PresentPort &a, const PresentPort &b) {
        return portNameLess(a.name, b.name);
    });
    return ports;
}

} // namespace veltra
