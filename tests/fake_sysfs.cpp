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

// A tty in /sys/class/tty whose device is devices/DEVICE, with a node in
// /dev unless told otherwise.
void tty(const std::string& root, const std::string& name, const std::string& device, bool node = true) {
    make_dirs(root + "/sys/devices/" + device);
    link(root + "/sys/class/tty/" + name + "/device", "../../../devices/" + device);
    if (node) write(root + "/dev/" + name, "");
}

// DIR's driver, as a link into /sys/bus the way sysfs has it.
void driver(const std::string& root, const std::string& dir, const std::string& bus_driver) {
    std::string up;
    for (size_t at = 0; (at = dir.find('/', at)) != std::string::npos; ++at) up += "../";
    link(root + "/sys/devices/" + dir + "/driver", "../../" + up + "bus/" + bus_driver);
}

void usb_device(const std::string& root, const std::string& dir, const char* vendor, const char* product_id,
                const char* maker, const char* product, const char* serial) {
    const std::string d = root + "/sys/devices/" + dir;
    write(d + "/idVendor", vendor);
    write(d + "/idProduct", product_id);
    write(d + "/manufacturer", maker);
    write(d + "/product", product);
    if (serial) write(d + "/serial", serial);
}

}  // namespace

void make_machine(const std::string& root) {
    // An FTDI adapter: the tty's device is the usb-serial port under the
    // interface, the ids two levels up.
    const std::string ftdi = "pci0000:00/0000:00:14.0/usb1/1-2";
    tty(root, "ttyUSB0", ftdi + "/1-2:1.0/ttyUSB0");
    driver(root, ftdi + "/1-2:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio");
    usb_device(root, ftdi, "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
    link(root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    // A board with CDC-ACM: the device is the interface; no serial number.
    const std::string pico = "pci0000:00/0000:00:14.0/usb1/1-3";
    tty(root, "ttyACM0", pico + "/1-3:1.0");
    driver(root, pico + "/1-3:1.0", "usb/drivers/cdc_acm");
    usb_device(root, pico, "2e8a", "000a", "Raspberry Pi", "Pico", nullptr);
    // A 16550 as newer kernels show it: the serial core's port and
    // controller between the tty and the driver that found the UART.
    tty(root, "ttyS0", "pnp0/00:00/00:00:0/00:00:0.0");
    driver(root, "pnp0/00:00/00:00:0/00:00:0.0", "serial-base/drivers/port");
    driver(root, "pnp0/00:00/00:00:0", "serial-base/drivers/ctrl");
    driver(root, "pnp0/00:00", "pnp/drivers/serial");
    write(root + "/sys/class/tty/ttyS0/type", "4");
    // Ports found by the platform driver, to be counted in order: 2 before 10.
    for (const char* name : {"ttyS10", "ttyS2"}) {
        tty(root, name, std::string("platform/serial8250/tty/") + name);
        write(root + "/sys/class/tty/" + name + "/type", "4");
    }
    driver(root, "platform/serial8250", "platform/drivers/serial8250");
    // Left out: a UART looked for and not found, a port without its node in
    // /dev, a virtual console without a device, a by-id entry that is no link.
    tty(root, "ttyS1", "platform/serial8250/tty/ttyS1");
    write(root + "/sys/class/tty/ttyS1/type", "0");
    tty(root, "ttyS3", "platform/serial8250/tty/ttyS3", false);
    make_dirs(root + "/sys/class/tty/tty1");
    write(root + "/dev/tty1", "");
    write(root + "/dev/serial/by-id/README", "not a link");
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
