package org.talve.maven.pack;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Enumeration;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TimeZone;
import java.util.TreeMap;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;

/**
 * An installer jar that runs alone: the project's jar with the classes and
 * resources of its dependencies, so that "java -jar" finds everything in the
 * one file the launcher extracts. The project's manifest, and so its main
 * class, is the merged jar's; the same inputs give the same bytes.
 */
public final class MergedJar {
    private static final String MANIFEST = "META-INF/MANIFEST.MF";
    private static final String SERVICES = "META-INF/services/";

    /** 1 February 1980: zip times start in 1980, and a month keeps every time zone inside it. */
    public static final long DEFAULT_TIME = 315_532_800_000L + 31L * 24 * 3600 * 1000;

    private final Path projectJar;
    private final List<Path> dependencies = new ArrayList<>();
    private final List<String> warnings = new ArrayList<>();
    private long time = DEFAULT_TIME;

    public MergedJar(Path projectJar) {
        this.projectJar = projectJar;
    }

    /** A dependency jar; where two carry the same resource, the one added first is kept. */
    public MergedJar add(Path dependency) {
        dependencies.add(dependency);
        return this;
    }

    /** The time every entry carries, in milliseconds since 1970 (UTC). */
    public MergedJar time(long millis) {
        time = millis;
        return this;
    }

    /** What the last write chose that the user may want to know: resources kept from one jar only. */
    public List<String> warnings() {
        return warnings;
    }

    private static final class Entry {
        final byte[] bytes;
        final Path from;

        Entry(byte[] bytes, Path from) {
            this.bytes = bytes;
            this.from = from;
        }
    }

    /** Writes the merged jar to output (replacing what has its name) and returns its size. */
    public long write(Path output) throws PackException {
        warnings.clear();
        TreeMap<String, Entry> entries = new TreeMap<>();
        TreeMap<String, ByteArrayOutputStream> services = new TreeMap<>();
        read(projectJar, true, entries, services);
        for (Path dependency : dependencies) read(dependency, false, entries, services);
        for (Map.Entry<String, ByteArrayOutputStream> service : services.entrySet()) {
            entries.put(service.getKey(), new Entry(service.getValue().toByteArray(), null));
        }

        try (OutputFile out = OutputFile.open(output)) {
            try (ZipOutputStream zip = new ZipOutputStream(new UnclosedStream(java.nio.channels.Channels.newOutputStream(out.channel())))) {
                // JarInputStream finds the manifest only as the first entry, or the second after META-INF/.
                Entry manifest = entries.remove(MANIFEST);
                if (manifest != null) {
                    entries.remove("META-INF/");
                    putDirectory(zip, "META-INF/");
                    put(zip, MANIFEST, manifest.bytes);
                }
                for (Map.Entry<String, Entry> entry : entries.entrySet()) {
                    if (entry.getValue() == null) {
                        putDirectory(zip, entry.getKey());
                    } else {
                        put(zip, entry.getKey(), entry.getValue().bytes);
                    }
                }
            }
            long size = out.channel().size();
            out.commit();
            return size;
        } catch (IOException e) {
            throw new PackException(output + ": write error: " + e.getMessage(), e);
        }
    }

    private void read(Path jar, boolean project, TreeMap<String, Entry> entries, TreeMap<String, ByteArrayOutputStream> services)
            throws PackException {
        try (ZipFile zip = new ZipFile(jar.toFile())) {
            Enumeration<? extends ZipEntry> all = zip.entries();
            while (all.hasMoreElements()) {
                ZipEntry entry = all.nextElement();
                String name = entry.getName();
                if (name.startsWith("/") || name.contains("\\") || Arrays.asList(name.split("/")).contains("..")) {
                    throw new PackException(jar + ": holds an entry outside the jar's root ('" + name + "')");
                }
                if (!project && leftOutOfDependency(name)) continue;
                if (entry.isDirectory()) {
                    entries.putIfAbsent(name, null);
                    continue;
                }
                byte[] bytes = readAll(zip, entry);
                if (name.startsWith(SERVICES) && name.indexOf('/', SERVICES.length()) < 0) {
                    appendService(services.computeIfAbsent(name, key -> new ByteArrayOutputStream()), bytes);
                    continue;
                }
                Entry earlier = entries.get(name);
                if (earlier == null) {
                    entries.put(name, new Entry(bytes, jar));
                } else if (!Arrays.equals(earlier.bytes, bytes)) {
                    if (name.endsWith(".class")) {
                        throw new PackException("two different classes of the same name, " + name + ", in "
                                + earlier.from.getFileName() + " and " + jar.getFileName()
                                + ": the installer jar would run whichever comes first; leave one of the jars out");
                    }
                    if (!name.startsWith("META-INF/")) {
                        warnings.add(name + " differs in " + earlier.from.getFileName() + " and " + jar.getFileName()
                                + "; the one of " + earlier.from.getFileName() + " is kept");
                    }
                }
            }
        } catch (IOException e) {
            throw new PackException(jar + ": cannot be read as a jar: " + e.getMessage(), e);
        }
    }

    // A dependency's manifest and signature would claim the merged jar as
    // theirs (a signature no longer matches once other classes are beside it);
    // its module descriptor and index describe a jar that no longer exists.
    static boolean leftOutOfDependency(String name) {
        if (name.endsWith("module-info.class")) return true;
        if (!name.startsWith("META-INF/") || name.indexOf('/', "META-INF/".length()) >= 0) return false;
        String file = name.substring("META-INF/".length()).toUpperCase(Locale.ROOT);
        return file.equals("MANIFEST.MF") || file.equals("INDEX.LIST") || file.startsWith("SIG-")
                || file.endsWith(".SF") || file.endsWith(".DSA") || file.endsWith(".RSA") || file.endsWith(".EC");
    }

    private static void appendService(ByteArrayOutputStream merged, byte[] bytes) {
        if (merged.size() > 0) {
            byte[] sofar = merged.toByteArray();
            if (sofar[sofar.length - 1] != '\n') merged.write('\n');
        }
        merged.write(bytes, 0, bytes.length);
    }

    private static byte[] readAll(ZipFile zip, ZipEntry entry) throws IOException {
        try (InputStream in = zip.getInputStream(entry)) {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[1 << 16];
            for (int n; (n = in.read(buffer)) > 0;) bytes.write(buffer, 0, n);
            return bytes.toByteArray();
        }
    }

    private void putDirectory(ZipOutputStream zip, String name) throws IOException {
        ZipEntry entry = entry(name);
        entry.setMethod(ZipEntry.STORED);
        entry.setSize(0);
        entry.setCrc(0);
        zip.putNextEntry(entry);
        zip.closeEntry();
    }

    private void put(ZipOutputStream zip, String name, byte[] bytes) throws IOException {
        zip.putNextEntry(entry(name));
        zip.write(bytes);
        zip.closeEntry();
    }

    // Zip times are local times: shifted by the zone's offset, the same
    // instant gives the same bytes wherever the build runs.
    private ZipEntry entry(String name) {
        ZipEntry entry = new ZipEntry(name);
        entry.setTime(time - TimeZone.getDefault().getOffset(time));
        return entry;
    }

    // The output file commits after the zip stream closed, through the same channel.
    private static final class UnclosedStream extends java.io.FilterOutputStream {
        UnclosedStream(OutputStream out) {
            super(out);
        }

        @Override
        public void write(byte[] bytes, int offset, int length) throws IOException {
            out.write(bytes, offset, length);
        }

        @Override
        public void close() throws IOException {
            flush();
        }
    }
}
