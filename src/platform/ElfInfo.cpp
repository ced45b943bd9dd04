#include "platform/ElfInfo.h"

#include <QFile>

#include <elf.h>

#include <cstring>
#include <vector>

namespace {

struct TElf32 {
    using Ehdr = Elf32_Ehdr;
    using Phdr = Elf32_Phdr;
    using Dyn = Elf32_Dyn;
    static constexpr unsigned char Class = ELFCLASS32;
};
struct TElf64 {
    using Ehdr = Elf64_Ehdr;
    using Phdr = Elf64_Phdr;
    using Dyn = Elf64_Dyn;
    static constexpr unsigned char Class = ELFCLASS64;
};

bool ReadAt(QFile& file, qint64 offset, void* data, qint64 size) {
    return file.seek(offset) && file.read(static_cast<char*>(data), size) == size;
}

template <class E> QStringList NeededOf(QFile& file) {
    typename E::Ehdr header;
    if (!ReadAt(file, 0, &header, sizeof header) || header.e_phentsize != sizeof(typename E::Phdr))
        return {};
    std::vector<typename E::Phdr> segments(header.e_phnum);
    if (!ReadAt(file, header.e_phoff, segments.data(),
                qint64(segments.size() * sizeof(typename E::Phdr))))
        return {};

    const typename E::Phdr* dynamic = nullptr;
    for (const auto& segment : segments)
        if (segment.p_type == PT_DYNAMIC)
            dynamic = &segment;
    if (!dynamic)
        return {};
    std::vector<typename E::Dyn> entries(dynamic->p_filesz / sizeof(typename E::Dyn));
    if (!ReadAt(file, dynamic->p_offset, entries.data(),
                qint64(entries.size() * sizeof(typename E::Dyn))))
        return {};

    uint64_t strtabAddress = 0, strtabSize = 0;
    std::vector<uint64_t> needed;
    for (const auto& entry : entries) {
        if (entry.d_tag == DT_NULL)
            break;
        if (entry.d_tag == DT_NEEDED)
            needed.push_back(entry.d_un.d_val);
        else if (entry.d_tag == DT_STRTAB)
            strtabAddress = entry.d_un.d_ptr;
        else if (entry.d_tag == DT_STRSZ)
            strtabSize = entry.d_un.d_val;
    }
    // The string table is given by its load address; find the file offset through the
    // loadable segment that holds it.
    qint64 strtabOffset = -1;
    for (const auto& segment : segments)
        if (segment.p_type == PT_LOAD && strtabAddress >= segment.p_vaddr &&
            strtabAddress + strtabSize <= segment.p_vaddr + segment.p_filesz)
            strtabOffset = qint64(strtabAddress - segment.p_vaddr + segment.p_offset);
    if (strtabOffset < 0 || strtabSize == 0 || strtabSize > (64u << 20))
        return {};
    std::vector<char> strings(strtabSize + 1, '\0');
    if (!ReadAt(file, strtabOffset, strings.data(), qint64(strtabSize)))
        return {};

    QStringList result;
    for (uint64_t index : needed)
        if (index < strtabSize)
            result << QString::fromUtf8(strings.data() + index);
    return result;
}

} // namespace

QStringList ElfNeededLibraries(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    unsigned char ident[EI_NIDENT];
    if (!ReadAt(file, 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return {};
    const unsigned char nativeOrder =
        __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident[EI_DATA] != nativeOrder)
        return {};
    if (ident[EI_CLASS] == TElf64::Class)
        return NeededOf<TElf64>(file);
    if (ident[EI_CLASS] == TElf32::Class)
        return NeededOf<TElf32>(file);
    return {};
}
