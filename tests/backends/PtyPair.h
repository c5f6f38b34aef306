// A pseudo-terminal pair for the Linux backend's tests: the slave stands in for a serial port (mapped to
// a COM number), the master is the far end of the cable.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace backendtests {

class CPtyPair {
public:
    CPtyPair() {
        if (openpty(&m_Master, &m_Slave, nullptr, nullptr, nullptr) != 0) {
            m_Master = m_Slave = -1;
            return;
        }
        char name[256] = {};
        if (ttyname_r(m_Slave, name, sizeof name) == 0) {
            m_SlaveName = name;
        }
        // The master never blocks the test: reads and writes wait through poll() with a limit.
        fcntl(m_Master, F_SETFL, fcntl(m_Master, F_GETFL) | O_NONBLOCK);
    }
    ~CPtyPair() {
        if (m_Master >= 0) {
            close(m_Master);
        }
        if (m_Slave >= 0) {
            close(m_Slave);
        }
    }
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    // Hangs up the far end, as a cable pulled out.
    void CloseMaster() {
        close(m_Master);
        m_Master = -1;
    }

    bool Ok() const { return m_Master >= 0 && m_Slave >= 0 && !m_SlaveName.empty(); }
    int Master() const { return m_Master; }
    // The slave descriptor openpty gave: the tests read the line's termios through it.
    int Slave() const { return m_Slave; }
    const std::string& SlaveName() const { return m_SlaveName; }

    termios SlaveTermios() const {
        termios tio{};
        tcgetattr(m_Slave, &tio);
        return tio;
    }

    // Reads from the master until count bytes have come or the limit has passed.
    std::vector<unsigned char> ReadMaster(size_t count, int limitMs) const {
        std::vector<unsigned char> bytes;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (bytes.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{m_Master, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            unsigned char buffer[4096];
            ssize_t n = read(m_Master, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n > 0) {
                bytes.insert(bytes.end(), buffer, buffer + n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
        }
        return bytes;
    }

    bool WriteMaster(const std::vector<unsigned char>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(m_Master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else {
                pollfd p{m_Master, POLLOUT, 0};
                if (poll(&p, 1, 2000) <= 0) {
                    return false;
                }
            }
        }
        return true;
    }

private:
    int m_Master = -1;
    int m_Slave = -1;
    std::string m_SlaveName;
};

} // namespace backendtests
