#include "os/CommDcbText.h"

#include <cwctype>
#include <vector>

namespace tarnos {
namespace {

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return s;
}

bool ParseNumber(const std::wstring& s, unsigned long max, unsigned long* out) {
    if (s.empty() || s.size() > 10) {
        return false;
    }
    unsigned long long value = 0;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value > max) {
        return false;
    }
    *out = static_cast<unsigned long>(value);
    return true;
}

bool Parity(const std::wstring& v, DCB* dcb) {
    static const wchar_t letters[] = L"noems";
    if (v.size() != 1) {
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        if (v[0] == letters[i]) {
            dcb->Parity = static_cast<BYTE>(i); // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY
            dcb->fParity = i != NOPARITY;
            return true;
        }
    }
    return false;
}

bool Stop(const std::wstring& v, DCB* dcb) {
    if (v == L"1") {
        dcb->StopBits = ONESTOPBIT;
    } else if (v == L"1.5") {
        dcb->StopBits = ONE5STOPBITS;
    } else if (v == L"2") {
        dcb->StopBits = TWOSTOPBITS;
    } else {
        return false;
    }
    return true;
}

bool OnOff(const std::wstring& v, bool* out) {
    if (v == L"on") {
        *out = true;
    } else if (v == L"off") {
        *out = false;
    } else {
        return false;
    }
    return true;
}

std::vector<std::wstring> Split(const std::wstring& s, wchar_t sep) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : s) {
        if (c == sep) {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    return parts;
}

std::wstring Trim(const std::wstring& s) {
    size_t a = s.find_first_not_of(L" \t");
    size_t b = s.find_last_not_of(L" \t");
    return a == std::wstring::npos ? std::wstring() : s.substr(a, b - a + 1);
}

// "baud=9600 parity=N data=8 stop=1 to=off xon=off odsr=off octs=off dtr=on rts=on idsr=off"
bool ParseKeyed(const std::wstring& text, DCB* dcb) {
    bool stopGiven = false;
    bool any = false;
    for (const std::wstring& raw : Split(text, L' ')) {
        std::wstring item = Trim(raw);
        if (item.empty()) {
            continue;
        }
        size_t eq = item.find(L'=');
        if (eq == std::wstring::npos || eq == 0) {
            return false;
        }
        std::wstring key = item.substr(0, eq);
        std::wstring value = item.substr(eq + 1);
        unsigned long n = 0;
        bool flag = false;
        any = true;
        if (key == L"baud") {
            if (!ParseNumber(value, 0xFFFFFFFFul, &n) || n == 0) {
                return false;
            }
            dcb->BaudRate = static_cast<DWORD>(n);
        } else if (key == L"parity") {
            if (!Parity(value, dcb)) {
                return false;
            }
        } else if (key == L"data") {
            if (!ParseNumber(value, 8, &n) || n < 5) {
                return false;
            }
            dcb->ByteSize = static_cast<BYTE>(n);
        } else if (key == L"stop") {
            if (!Stop(value, dcb)) {
                return false;
            }
            stopGiven = true;
        } else if (key == L"to" || key == L"xon" || key == L"odsr" || key == L"octs" || key == L"idsr") {
            if (!OnOff(value, &flag)) {
                return false;
            }
            if (key == L"xon") {
                dcb->fOutX = dcb->fInX = flag;
            } else if (key == L"odsr") {
                dcb->fOutxDsrFlow = flag;
            } else if (key == L"octs") {
                dcb->fOutxCtsFlow = flag;
            } else if (key == L"idsr") {
                dcb->fDsrSensitivity = flag;
            }
        } else if (key == L"dtr") {
            if (value == L"hs") {
                dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
            } else if (OnOff(value, &flag)) {
                dcb->fDtrControl = flag ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
            } else {
                return false;
            }
        } else if (key == L"rts") {
            if (value == L"hs") {
                dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
            } else if (value == L"tg") {
                dcb->fRtsControl = RTS_CONTROL_TOGGLE;
            } else if (OnOff(value, &flag)) {
                dcb->fRtsControl = flag ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
            } else {
                return false;
            }
        } else {
            return false;
        }
    }
    if (!any) {
        return false;
    }
    if (!stopGiven && dcb->BaudRate == 110) {
        dcb->StopBits = TWOSTOPBITS;
    }
    return true;
}

// "COM1: 9600,n,8,1" or "9600,n,8,1[,x|p]"
bool ParseOld(std::wstring text, DCB* dcb) {
    size_t colon = text.find(L':');
    if (colon != std::wstring::npos) {
        text = text.substr(colon + 1);
    }
    std::vector<std::wstring> parts = Split(text, L',');
    if (parts.size() < 4 || parts.size() > 5) {
        return false;
    }
    unsigned long n = 0;
    if (!ParseNumber(Trim(parts[0]), 0xFFFFFFFFul, &n) || n == 0) {
        return false;
    }
    dcb->BaudRate = static_cast<DWORD>(n);
    if (!Parity(Trim(parts[1]), dcb)) {
        return false;
    }
    if (!ParseNumber(Trim(parts[2]), 8, &n) || n < 5) {
        return false;
    }
    dcb->ByteSize = static_cast<BYTE>(n);
    if (!Stop(Trim(parts[3]), dcb)) {
        return false;
    }
    if (parts.size() == 5) {
        std::wstring hs = Trim(parts[4]);
        if (hs == L"x") {
            dcb->fOutX = dcb->fInX = 1;
        } else if (hs == L"p") {
            dcb->fOutxCtsFlow = dcb->fOutxDsrFlow = 1;
            dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
            dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseCommDcbText(const std::wstring& text, DCB* dcb) {
    if (dcb == nullptr || text.size() > 1024) {
        return false;
    }
    DCB work = *dcb;
    std::wstring lower = Lower(Trim(text));
    bool ok = lower.find(L'=') != std::wstring::npos ? ParseKeyed(lower, &work) : ParseOld(lower, &work);
    if (!ok) {
        return false;
    }
    work.fBinary = 1;
    *dcb = work;
    return true;
}

} // namespace tarnos
