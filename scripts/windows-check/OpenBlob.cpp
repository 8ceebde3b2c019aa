// Reads the connection file named first, takes the password blob of its "password 51:b:" line back from its
// hexadecimal and opens it with CryptUnprotectData; writes the description, a line break and the opened bytes
// as hexadecimal to the file named second. Used by scripts/check-windows under Wine.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker = "password 51:b:";
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) {
        return 3;
    }
    const std::size_t end = text.find("\r\n", at);
    std::string hex = text.substr(at + marker.size(), end - at - marker.size());
    hex.pop_back(); // the one "0" after the bytes
    std::vector<BYTE> sealed;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        sealed.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    DATA_BLOB input{static_cast<DWORD>(sealed.size()), sealed.data()};
    DATA_BLOB output{};
    LPWSTR description = nullptr;
    if (!CryptUnprotectData(&input, &description, nullptr, nullptr, nullptr, 0, &output)) {
        return 4;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    for (LPWSTR c = description; *c != 0; ++c) {
        std::fputc(static_cast<char>(*c), out);
    }
    std::fputc('\n', out);
    for (DWORD i = 0; i < output.cbData; ++i) {
        std::fprintf(out, "%02X", output.pbData[i]);
    }
    std::fclose(out);
    LocalFree(output.pbData);
    LocalFree(description);
    return 0;
}
