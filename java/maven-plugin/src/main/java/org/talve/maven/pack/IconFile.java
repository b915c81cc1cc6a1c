package org.talve.maven.pack;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * An ICO file made into a program's icon resources, as tools/pack/icon_file.cpp
 * makes them: each image an icon numbered from 1 in file order, and group 1
 * listing them. PNG-compressed images are kept as they are.
 */
final class IconFile {
    private static final int HEADER_SIZE = 6;
    private static final int FILE_ENTRY_SIZE = 16;
    // A group entry is the file's entry with the image's number in place of its offset.
    private static final int SHARED_ENTRY_PART = 12;
    private static final int BITMAP_HEADER_SIZE = 40;
    private static final byte[] PNG_SIGNATURE = {(byte) 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

    private IconFile() {
    }

    /** The resources, or a PackException saying what is wrong with the file. */
    static List<PeResources.Resource> resources(byte[] ico) throws PackException {
        if (ico.length < HEADER_SIZE) throw new PackException("too short for an icon file (" + ico.length + " bytes)");
        if (LittleEndian.get(ico, 0, 2) != 0 || LittleEndian.get(ico, 2, 2) != 1) {
            throw new PackException("no icon file header (a cursor, or another format renamed?)");
        }
        int count = (int) LittleEndian.get(ico, 4, 2);
        if (count == 0) throw new PackException("the icon file holds no image");
        if (HEADER_SIZE + (long) count * FILE_ENTRY_SIZE > ico.length) {
            throw new PackException("the list of " + count + " images is cut short");
        }
        List<PeResources.Resource> resources = new ArrayList<>();
        ByteArrayOutputStream group = new ByteArrayOutputStream();
        group.write(ico, 0, HEADER_SIZE);
        for (int i = 0; i < count; ++i) {
            int entry = HEADER_SIZE + i * FILE_ENTRY_SIZE;
            long size = LittleEndian.get(ico, entry + 8, 4);
            long offset = LittleEndian.get(ico, entry + 12, 4);
            String which = "image " + (i + 1) + " of " + count;
            if (size == 0) throw new PackException(which + " is empty");
            if (offset > ico.length || size > ico.length - offset) {
                throw new PackException(which + " lies beyond the end of the file (offset " + offset + ", " + size
                        + " bytes, file " + ico.length + " bytes)");
            }
            byte[] image = Arrays.copyOfRange(ico, (int) offset, (int) (offset + size));
            boolean png = image.length >= PNG_SIGNATURE.length
                    && Arrays.equals(Arrays.copyOf(image, PNG_SIGNATURE.length), PNG_SIGNATURE);
            boolean bitmap = image.length >= BITMAP_HEADER_SIZE && LittleEndian.get(image, 0, 4) == BITMAP_HEADER_SIZE;
            if (!png && !bitmap) throw new PackException(which + " is neither a PNG nor a bitmap image");
            resources.add(new PeResources.Resource(PeResources.ICON, i + 1, 0, 0, image));
            group.write(ico, entry, SHARED_ENTRY_PART);
            group.write((i + 1) & 0xff);
            group.write((i + 1) >>> 8);
        }
        resources.add(new PeResources.Resource(PeResources.ICON_GROUP, 1, 0, 0, group.toByteArray()));
        return resources;
    }
}
