package org.talve.maven;

import java.io.File;

import org.apache.maven.plugin.MojoFailureException;
import org.talve.maven.pack.PackException;
import org.talve.maven.pack.WindowsResources;
import org.talve.maven.pack.WindowsResources.Field;

/**
 * The installer goal's versionInfo block: what Explorer shows on a Windows
 * installer's Properties page. What is not given is left out; the two
 * versions default to the project's.
 */
public class VersionInfo {
    /** The product's name. */
    String productName;
    /** Dotted numbers, up to four parts; by default the project's version. */
    String productVersion;
    /** Dotted numbers, up to four parts; by default the project's version. */
    String fileVersion;
    /** The maker. */
    String company;
    /** What the program is, shown as its description. */
    String description;
    /** The copyright line. */
    String copyright;
    /** By default the installer's file name. */
    String originalFilename;

    /** The installer goal's icon, versionInfo and executionLevel, each refusal naming its parameter. */
    static WindowsResources windowsResources(File icon, VersionInfo info, String executionLevel, String projectVersion)
            throws MojoFailureException {
        WindowsResources resources = new WindowsResources();
        if (icon != null) {
            if (!icon.isFile()) throw new MojoFailureException("Parameter 'icon': " + icon + " does not exist or is not a file");
            resources.icon(icon.toPath());
        }
        try {
            resources.executionLevel(executionLevel);
        } catch (PackException e) {
            throw new MojoFailureException("Parameter 'executionLevel' " + e.getMessage(), e);
        }
        if (info == null) return resources;
        String[] names = {"productName", "company", "description", "copyright", "originalFilename"};
        String[] values = {info.productName, info.company, info.description, info.copyright, info.originalFilename};
        Field[] fields = {Field.PRODUCT_NAME, Field.COMPANY, Field.DESCRIPTION, Field.COPYRIGHT, Field.ORIGINAL_FILENAME};
        String name = null;
        try {
            for (int i = 0; i < names.length; ++i) {
                name = names[i];
                if (values[i] != null) resources.text(fields[i], values[i]);
            }
            name = "productVersion";
            resources.projectVersion(Field.PRODUCT_VERSION, info.productVersion != null ? info.productVersion : projectVersion);
            name = "fileVersion";
            resources.projectVersion(Field.FILE_VERSION, info.fileVersion != null ? info.fileVersion : projectVersion);
        } catch (PackException e) {
            throw new MojoFailureException("Parameter 'versionInfo." + name + "': " + e.getMessage(), e);
        }
        return resources;
    }
}
