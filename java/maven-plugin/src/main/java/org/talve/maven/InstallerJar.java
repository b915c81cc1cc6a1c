package org.talve.maven;

import java.io.File;
import java.time.Instant;
import java.time.OffsetDateTime;
import java.time.format.DateTimeParseException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.apache.maven.artifact.Artifact;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.logging.Log;
import org.apache.maven.project.MavenProject;
import org.talve.maven.pack.MergedJar;
import org.talve.maven.pack.PackException;

/** The project's jar as the installer stores it: with its run-time dependencies merged in. */
final class InstallerJar {
    private static final List<String> RUNTIME_SCOPES = Arrays.asList(Artifact.SCOPE_COMPILE, Artifact.SCOPE_RUNTIME, Artifact.SCOPE_SYSTEM);

    private InstallerJar() {
    }

    /** The jars the installer jar needs at run time, in Maven's resolution order. */
    static List<File> runtimeDependencies(MavenProject project) {
        List<File> jars = new ArrayList<>();
        if (project.getArtifacts() == null) return jars;
        for (Artifact artifact : project.getArtifacts()) {
            File file = artifact.getFile();
            if (file != null && file.isFile() && RUNTIME_SCOPES.contains(artifact.getScope())
                    && artifact.getArtifactHandler().isAddedToClasspath()) {
                jars.add(file);
            }
        }
        return jars;
    }

    /**
     * Writes the merged jar under folder with the project jar's file name, so
     * that the name it is stored under stays the one the user knows.
     */
    static File merge(MavenProject project, File projectJar, File folder, String outputTimestamp, Log log) throws MojoFailureException {
        MergedJar merged = new MergedJar(projectJar.toPath()).time(entryTime(outputTimestamp));
        for (File dependency : runtimeDependencies(project)) merged.add(dependency.toPath());
        File output = new File(folder, projectJar.getName());
        try {
            merged.write(output.toPath());
        } catch (PackException e) {
            throw new MojoFailureException("Merging the installer jar " + projectJar.getName() + " with its dependencies: "
                    + e.getMessage() + " (or store the project's jar as it is with 'mergeDependencies' false)", e);
        }
        for (String warning : merged.warnings()) log.warn(warning);
        return output;
    }

    /**
     * Maven's reproducible-build time: an ISO 8601 date and time with its
     * offset, or seconds since 1970; unset (or one character, which Maven
     * takes as "off") gives the fixed default.
     */
    static long entryTime(String outputTimestamp) throws MojoFailureException {
        if (outputTimestamp == null || outputTimestamp.trim().length() < 2) return MergedJar.DEFAULT_TIME;
        String text = outputTimestamp.trim();
        try {
            if (text.matches("[0-9]+")) return Instant.ofEpochSecond(Long.parseLong(text)).toEpochMilli();
            return OffsetDateTime.parse(text).toInstant().toEpochMilli();
        } catch (DateTimeParseException | ArithmeticException | NumberFormatException e) {
            throw new MojoFailureException("Property 'project.build.outputTimestamp': '" + text
                    + "' is no date and time such as 2026-01-01T00:00:00Z, nor seconds since 1970", e);
        }
    }
}
