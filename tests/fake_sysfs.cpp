#include "tests/fake_sysfs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace fake_sysfs {

namespace {

void make_dirs(const std::string& path) {
    for (size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at) mkdir(path.substr(0, at).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

void write(const std::string& path, const std::string& text) {
    make_dirs(path.substr(0, path.rfind('/')));
    std::ofstream(path) << text << "\n";
}

void link(const std::string& path, const std::string& target) {
    make_dirs(path.substr(0, path.rfind('/')));
    if (symlink(target.c_str(), path.c_str()) != 0) std::abort();
}

// A tty whose device is /sys/devices/DEVICE (only its driver's name counts
// here), its node in /dev unless told otherwise.
void tty(const std::string& root, const std::string& name, const std::string& device, bool node = true) {
    make_dirs(root + "/sys/devices/" + device);
    link(root + "/sys/class/tty/" + name + "/device", "../../../devices/" + device);
    if (node) write(root + "/dev/" + name, "");
}

void driver(const std::string& root, const std::string& device, const std::string& bus_driver) {
    link(root + "/sys/devices/" + device + "/driver", "/sys/bus/" + bus_driver);
}

}  // namespace

void make_machine(const std::string& root) {
    // An FTDI adapter: the tty's device is the usb-serial port, the ids two
    // levels up, and its by-id name.
    const std::string ftdi = "pci0000:00/usb1/1-2";
    tty(root, "ttyUSB0", ftdi + "/1-2:1.0/ttyUSB0");
    driver(root, ftdi + "/1-2:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio");
    for (const auto& [file, text] : {std::pair<const char*, const char*>{"idVendor", "0403"}, {"idProduct", "6001"},
                                     {"manufacturer", "FTDI"}, {"product", "FT232R USB UART"}, {"serial", "A50285BI"}})
        write(root + "/sys/devices/" + ftdi + "/" + file, text);
    link(root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    // A CDC-ACM board without a serial number: the device is the interface.
    const std::string pico = "pci0000:00/usb1/1-3";
    tty(root, "ttyACM0", pico + "/1-3:1.0");
    driver(root, pico + "/1-3:1.0", "usb/drivers/cdc_acm");
    for (const auto& [file, text] : {std::pair<const char*, const char*>{"idVendor", "2e8a"}, {"idProduct", "000a"},
                                     {"manufacturer", "Raspberry Pi"}, {"product", "Pico"}})
        write(root + "/sys/devices/" + pico + "/" + file, text);
    // A 16550 as newer kernels show it: the serial core's own port and
    // controller devices between the tty and the driver that found it.
    tty(root, "ttyS0", "pnp0/00:00/00:00:0/00:00:0.0");
    driver(root, "pnp0/00:00/00:00:0/00:00:0.0", "serial-base/drivers/port");
    driver(root, "pnp0/00:00/00:00:0", "serial-base/drivers/ctrl");
    driver(root, "pnp0/00:00", "pnp/drivers/serial");
    // Platform ports, counted in order (2 before 10); left out: a UART
    // looked for and not found (type 0), a port without a node in /dev.
    for (const char* name : {"ttyS10", "ttyS2", "ttyS1", "ttyS3"}) {
        tty(root, name, std::string("platform/serial8250/") + name, std::string(name) != "ttyS3");
        write(root + "/sys/class/tty/" + name + "/type", std::string(name) == "ttyS1" ? "0" : "4");
    }
    driver(root, "platform/serial8250", "platform/drivers/serial8250");
    // Left out too: a virtual console without a device, a by-id entry that
    // is no link.
    make_dirs(root + "/sys/class/tty/tty1");
    write(root + "/dev/tty1", "");
    write(root + "/dev/serial/by-id/README", "");
}

std::vector<std::pair<std::string, std::string>> machine_lines() {
    return {
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "-> /dev/ttyUSB0"},
        {"/dev/ttyACM0", "cdc_acm, USB 2e8a:000a, Raspberry Pi, Pico"},
        {"/dev/ttyS0", "serial"},
        {"/dev/ttyS2", "serial8250"},
        {"/dev/ttyS10", "serial8250"},
        {"/dev/ttyUSB0", "ftdi_sio, USB 0403:6001, FTDI, FT232R USB UART, serial A50285BI"},
    };
}

}  // namespace fake_sysfs
