#include "link/winportlist.h"

#include "link/serialport.h"

#include <qt_windows.h>

// The GUID definitions need initguid.h first.
#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <QHash>

#include <algorithm>

namespace veltra {
namespace {

// Device names by port name, from the Ports class of the device manager.
QHash<QString, QString> portDescriptions()
{
    QHash<QString, QString> descriptions;
    const HDEVINFO devices =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return descriptions;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[256] = {};
        DWORD size = sizeof(portName) - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(portName),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (!named)
            continue;
        wchar_t text[512] = {};
        for (const DWORD property : {DWORD(SPDRP_FRIENDLYNAME), DWORD(SPDRP_DEVICEDESC)}) {
            if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                                  reinterpret_cast<BYTE *>(text),
                                                  sizeof(text) - sizeof(wchar_t), nullptr)) {
                descriptions.insert(QString::fromWCharArray(portName),
                                    QString::fromWCharArray(text));
                break;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return descriptions;
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

QList<PresentPort> presentPorts()
{
    QList<PresentPort> ports;
    const QHash<QString, QString> descriptions = portDescriptions();
    for (const QString &name : listedSerialPorts())
        ports.append({name, descriptions.value(name)});
    std::sort(ports.begin(), ports.end(), [](const PresentPort &a, const PresentPort &b) {
        return portNameLess(a.name, b.name);
    });
    return ports;
}

} // namespace veltra
