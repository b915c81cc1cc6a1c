package org.talve.maven.pack;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * The resources of a Windows program, read from its resource directory and
 * written back as a new one in the one layout tools/pack/pe_resources.cpp
 * writes, byte for byte: keep the two in step.
 */
final class PeResources {
    static final int ICON = 3;
    static final int ICON_GROUP = 14;
    static final int VERSION = 16;
    static final int MANIFEST = 24;

    // Optional-header fields at the same place in PE32 and PE32+.
    private static final int INITIALIZED_DATA_SIZE = 8;
    private static final int SECTION_ALIGNMENT = 32;
    private static final int FILE_ALIGNMENT = 36;
    private static final int IMAGE_SIZE = 56;
    private static final int HEADERS_SIZE = 60;
    private static final int RESOURCE_DIRECTORY_INDEX = 2;
    private static final int SECTION_HEADER_SIZE = 40;
    private static final long READABLE_INITIALIZED_DATA = 0x40000040L;
    private static final long SUBDIRECTORY = 0x80000000L;
    private static final int DIRECTORY_SIZE = 16;
    private static final int DIRECTORY_ENTRY_SIZE = 8;
    private static final int DATA_ENTRY_SIZE = 16;
    private static final int DATA_ALIGNMENT = 8;
    // Far beyond a program's own resources; bounds what a looping tree could make us read.
    private static final int MAX_RESOURCES = 4096;

    private PeResources() {
    }

    /** One leaf of the tree: numbered type, name and language only. */
    static final class Resource {
        final int type;
        final int name;
        final int language;
        final long codePage;
        byte[] data;

        Resource(int type, int name, int language, long codePage, byte[] data) {
            this.type = type;
            this.name = name;
            this.language = language;
            this.codePage = codePage;
            this.data = data;
        }
    }

    private static final class Section {
        int header;
        long virtualSize;
        long virtualAddress;
        long rawSize;
        long rawPointer;
        long characteristics;

        long memoryEnd() {
            return virtualAddress + Math.max(virtualSize, rawSize);
        }

        long fileEnd() {
            return rawPointer + rawSize;
        }
    }

    private static final class Image {
        PeImage headers;
        final List<Section> sections = new ArrayList<>();
        long sectionAlignment;
        long fileAlignment;
        int resourceEntry;
    }

    private static long get32(byte[] bytes, int offset) {
        return LittleEndian.get(bytes, offset, 4);
    }

    private static long alignUp(long value, long alignment) {
        return (value + alignment - 1) / alignment * alignment;
    }

    private static Image readImage(byte[] bytes) throws PackException {
        PeImage headers = PeImage.read(bytes);
        if (headers.kind != PeImage.Kind.IMAGE) {
            throw new PackException(headers.kind == PeImage.Kind.NOT_PE ? "not a Windows program" : headers.problem);
        }
        Image image = new Image();
        image.headers = headers;
        int optional = headers.optionalHeaderOffset;
        image.sectionAlignment = get32(bytes, optional + SECTION_ALIGNMENT);
        image.fileAlignment = get32(bytes, optional + FILE_ALIGNMENT);
        if (Long.bitCount(image.sectionAlignment) != 1 || Long.bitCount(image.fileAlignment) != 1) {
            throw new PackException("the headers give no valid section and file alignment");
        }
        if (headers.directoryCount <= RESOURCE_DIRECTORY_INDEX
                || headers.directoriesOffset + (RESOURCE_DIRECTORY_INDEX + 1) * 8 > headers.sectionTableOffset) {
            throw new PackException("the headers hold no resource directory entry");
        }
        image.resourceEntry = headers.directoriesOffset + RESOURCE_DIRECTORY_INDEX * 8;
        int table = headers.sectionTableOffset;
        if (table + (long) headers.sectionCount * SECTION_HEADER_SIZE > bytes.length) {
            throw new PackException("the section table is cut short");
        }
        for (int i = 0; i < headers.sectionCount; ++i) {
            Section section = new Section();
            section.header = table + i * SECTION_HEADER_SIZE;
            section.virtualSize = get32(bytes, section.header + 8);
            section.virtualAddress = get32(bytes, section.header + 12);
            section.rawSize = get32(bytes, section.header + 16);
            section.rawPointer = get32(bytes, section.header + 20);
            section.characteristics = get32(bytes, section.header + 36);
            if (section.rawSize != 0 && section.fileEnd() > bytes.length) {
                throw new PackException("section " + (i + 1) + " reaches beyond the end of the file");
            }
            image.sections.add(section);
        }
        return image;
    }

    /** The file offset of the bytes at an address in memory, or -1 when no section holds all of them. */
    private static long fileOffsetOf(Image image, long address, long size) {
        for (Section section : image.sections) {
            if (address < section.virtualAddress) continue;
            long into = address - section.virtualAddress;
            if (into + size > section.rawSize) continue;
            return section.rawPointer + into;
        }
        return -1;
    }

    private static final class TreeReader {
        private final byte[] bytes;
        private final Image image;
        private final long base;
        private final long limit;
        final List<Resource> resources = new ArrayList<>();

        TreeReader(byte[] bytes, Image image, long base, long limit) {
            this.bytes = bytes;
            this.image = image;
            this.base = base;
            this.limit = limit;
        }

        private boolean inTree(long offset, long width) {
            return offset <= limit && width <= limit - offset;
        }

        void directory(long offset, int level, int[] path) throws PackException {
            if (!inTree(offset, DIRECTORY_SIZE)) throw new PackException("a resource directory lies outside the tree");
            int at = (int) (base + offset);
            long named = LittleEndian.get(bytes, at + 12, 2);
            long numbered = LittleEndian.get(bytes, at + 14, 2);
            if (named != 0) throw new PackException("a resource has a name rather than a number");
            if (!inTree(offset + DIRECTORY_SIZE, numbered * DIRECTORY_ENTRY_SIZE)) {
                throw new PackException("a resource directory is cut short");
            }
            for (int i = 0; i < numbered; ++i) {
                int entry = at + DIRECTORY_SIZE + i * DIRECTORY_ENTRY_SIZE;
                long id = get32(bytes, entry);
                long target = get32(bytes, entry + 4);
                if (id > 0xffff) throw new PackException("a resource has a name rather than a number");
                int[] here = path.clone();
                here[level] = (int) id;
                boolean subdirectory = (target & SUBDIRECTORY) != 0;
                if (subdirectory != (level < 2)) throw new PackException("the resource tree is not of type, name and language");
                if (subdirectory) {
                    directory(target & ~SUBDIRECTORY, level + 1, here);
                } else {
                    leaf(target, here);
                }
            }
        }

        private void leaf(long offset, int[] path) throws PackException {
            if (resources.size() == MAX_RESOURCES) throw new PackException("too many resources");
            if (!inTree(offset, DATA_ENTRY_SIZE)) throw new PackException("a resource data entry lies outside the tree");
            int at = (int) (base + offset);
            long address = get32(bytes, at);
            long size = get32(bytes, at + 4);
            long codePage = get32(bytes, at + 8);
            long data = fileOffsetOf(image, address, size);
            if (data < 0) throw new PackException("a resource's data lie outside the file");
            resources.add(new Resource(path[0], path[1], path[2], codePage,
                    Arrays.copyOfRange(bytes, (int) data, (int) (data + size))));
        }
    }

    /** The leaves of a program's resource tree, in the tree's order. */
    static List<Resource> read(byte[] bytes) throws PackException {
        Image image = readImage(bytes);
        long address = get32(bytes, image.resourceEntry);
        long size = get32(bytes, image.resourceEntry + 4);
        if (address == 0) return new ArrayList<>();
        long base = fileOffsetOf(image, address, size);
        if (base < 0) throw new PackException("the resource directory lies outside the file");
        TreeReader reader = new TreeReader(bytes, image, base, size);
        try {
            reader.directory(0, 0, new int[3]);
        } catch (PackException e) {
            throw new PackException("damaged resources: " + e.getMessage(), e);
        }
        return reader.resources;
    }

    private static int directorySize(int entries) {
        return DIRECTORY_SIZE + entries * DIRECTORY_ENTRY_SIZE;
    }

    // The root directory, the type directories, the name directories, the
    // data entries, then the data, each 8-aligned; entries sorted by number;
    // no time stamp, versions or characteristics.
    private static byte[] buildTree(List<Resource> resources, long sectionAddress) {
        TreeMap<Integer, TreeMap<Integer, List<Resource>>> tree = new TreeMap<>();
        for (Resource resource : resources) {
            tree.computeIfAbsent(resource.type, k -> new TreeMap<>())
                    .computeIfAbsent(resource.name, k -> new ArrayList<>()).add(resource);
        }
        int size = directorySize(tree.size());
        for (Map<Integer, List<Resource>> type : tree.values()) size += directorySize(type.size());
        for (Map<Integer, List<Resource>> type : tree.values()) {
            for (List<Resource> name : type.values()) size += directorySize(name.size());
        }
        int dataEntries = size;
        size += resources.size() * DATA_ENTRY_SIZE;
        byte[] head = new byte[size];

        int[] next = {0};
        int root = directory(head, next, tree.size());
        List<Integer> typeDirectories = new ArrayList<>();
        int index = 0;
        for (Map.Entry<Integer, TreeMap<Integer, List<Resource>>> type : tree.entrySet()) {
            int at = directory(head, next, type.getValue().size());
            LittleEndian.put(head, root + DIRECTORY_SIZE + index * DIRECTORY_ENTRY_SIZE, type.getKey(), 4);
            LittleEndian.put(head, root + DIRECTORY_SIZE + index * DIRECTORY_ENTRY_SIZE + 4, at | SUBDIRECTORY, 4);
            typeDirectories.add(at);
            ++index;
        }
        int leaf = 0;
        int typeIndex = 0;
        for (TreeMap<Integer, List<Resource>> type : tree.values()) {
            int nameIndex = 0;
            for (Map.Entry<Integer, List<Resource>> name : type.entrySet()) {
                int at = directory(head, next, name.getValue().size());
                int entry = typeDirectories.get(typeIndex) + DIRECTORY_SIZE + nameIndex * DIRECTORY_ENTRY_SIZE;
                LittleEndian.put(head, entry, name.getKey(), 4);
                LittleEndian.put(head, entry + 4, at | SUBDIRECTORY, 4);
                for (int i = 0; i < name.getValue().size(); ++i) {
                    LittleEndian.put(head, at + DIRECTORY_SIZE + i * DIRECTORY_ENTRY_SIZE, name.getValue().get(i).language, 4);
                    LittleEndian.put(head, at + DIRECTORY_SIZE + i * DIRECTORY_ENTRY_SIZE + 4,
                            dataEntries + (long) leaf * DATA_ENTRY_SIZE, 4);
                    ++leaf;
                }
                ++nameIndex;
            }
            ++typeIndex;
        }
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        bytes.write(head, 0, head.length);
        leaf = 0;
        for (TreeMap<Integer, List<Resource>> type : tree.values()) {
            for (List<Resource> name : type.values()) {
                for (Resource resource : name) {
                    while (bytes.size() % DATA_ALIGNMENT != 0) bytes.write(0);
                    int entry = dataEntries + leaf * DATA_ENTRY_SIZE;
                    LittleEndian.put(head, entry, sectionAddress + bytes.size(), 4);
                    LittleEndian.put(head, entry + 4, resource.data.length, 4);
                    LittleEndian.put(head, entry + 8, resource.codePage, 4);
                    bytes.write(resource.data, 0, resource.data.length);
                    ++leaf;
                }
            }
        }
        byte[] result = bytes.toByteArray();
        System.arraycopy(head, 0, result, 0, head.length);
        return result;
    }

    private static int directory(byte[] head, int[] next, int entries) {
        int at = next[0];
        LittleEndian.put(head, at + 14, entries, 2);
        next[0] += directorySize(entries);
        return at;
    }

    /**
     * The program with these resources in place of its own: the tree goes into
     * a section of its own at the end of the image, which replaces the old
     * resource section when that one ends the image and the file. The
     * checksum is left for the caller to set once the file is complete.
     */
    static byte[] replace(byte[] program, List<Resource> given) throws PackException {
        Image image = readImage(program);
        List<Resource> resources = new ArrayList<>(given);
        resources.sort(Comparator.<Resource>comparingInt(r -> r.type).thenComparingInt(r -> r.name)
                .thenComparingInt(r -> r.language));
        for (int i = 1; i < resources.size(); ++i) {
            Resource a = resources.get(i - 1);
            Resource b = resources.get(i);
            if (a.type == b.type && a.name == b.name && a.language == b.language) {
                throw new PackException("two resources of type " + b.type + " with number " + b.name);
            }
        }
        int optional = image.headers.optionalHeaderOffset;
        long initializedData = get32(program, optional + INITIALIZED_DATA_SIZE);
        byte[] bytes = program;
        int length = bytes.length;

        // The old tree is dropped when nothing follows it, in memory or in the
        // file; otherwise it stays, unused, where other sections still point past it.
        long oldAddress = get32(bytes, image.resourceEntry);
        if (oldAddress != 0 && !image.sections.isEmpty()) {
            Section last = image.sections.get(image.sections.size() - 1);
            boolean endsEverything = last.fileEnd() == length && last.rawSize != 0;
            for (Section section : image.sections) endsEverything &= section.memoryEnd() <= last.memoryEnd();
            if (endsEverything && oldAddress >= last.virtualAddress && oldAddress < last.memoryEnd()) {
                length = (int) last.rawPointer;
                bytes = Arrays.copyOf(bytes, length);
                Arrays.fill(bytes, last.header, last.header + SECTION_HEADER_SIZE, (byte) 0);
                if ((last.characteristics & 0x40) != 0) initializedData -= last.rawSize;
                image.sections.remove(image.sections.size() - 1);
            }
        }
        long fileEnd = 0;
        long memoryEnd = 0;
        for (Section section : image.sections) {
            fileEnd = Math.max(fileEnd, section.fileEnd());
            memoryEnd = Math.max(memoryEnd, section.memoryEnd());
        }
        if (length > fileEnd) {
            throw new PackException((length - fileEnd)
                    + " bytes follow the program's last section (a symbol table?); give the launcher as it was built");
        }
        int slot = image.headers.sectionTableOffset + image.sections.size() * SECTION_HEADER_SIZE;
        long firstData = get32(bytes, optional + HEADERS_SIZE);
        for (Section section : image.sections) {
            if (section.rawSize != 0) firstData = Math.min(firstData, section.rawPointer);
        }
        boolean free = slot + SECTION_HEADER_SIZE <= firstData;
        for (int i = slot; free && i < slot + SECTION_HEADER_SIZE; ++i) free = bytes[i] == 0;
        if (!free) throw new PackException("the program's headers have no room for another section");

        long address = alignUp(memoryEnd, image.sectionAlignment);
        long rawPointer = alignUp(length, image.fileAlignment);
        byte[] tree = buildTree(resources, address);
        long rawSize = alignUp(tree.length, image.fileAlignment);
        long imageSize = alignUp(address + tree.length, image.sectionAlignment);
        if (imageSize > 0xffffffffL || rawPointer + rawSize > Integer.MAX_VALUE - 8) {
            throw new PackException("the resources would make the program larger than 4 GiB");
        }
        byte[] result = Arrays.copyOf(bytes, (int) (rawPointer + rawSize));
        System.arraycopy(tree, 0, result, (int) rawPointer, tree.length);

        byte[] name = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
        System.arraycopy(name, 0, result, slot, name.length);
        LittleEndian.put(result, slot + 8, tree.length, 4);
        LittleEndian.put(result, slot + 12, address, 4);
        LittleEndian.put(result, slot + 16, rawSize, 4);
        LittleEndian.put(result, slot + 20, rawPointer, 4);
        LittleEndian.put(result, slot + 36, READABLE_INITIALIZED_DATA, 4);
        LittleEndian.put(result, optional - 20 + 2, image.sections.size() + 1, 2);
        LittleEndian.put(result, optional + INITIALIZED_DATA_SIZE, initializedData + rawSize, 4);
        LittleEndian.put(result, optional + IMAGE_SIZE, imageSize, 4);
        LittleEndian.put(result, image.resourceEntry, address, 4);
        LittleEndian.put(result, image.resourceEntry + 4, tree.length, 4);
        return result;
    }
}
