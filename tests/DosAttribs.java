// Prints the DOS attributes Java reads for each path given, one line each
// (letters R H S A, "-" for none, "!" and the error when it cannot read
// them); "set-hs:PATH" first sets hidden and system on PATH.
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.DosFileAttributes;

public class DosAttribs {
    public static void main(String[] args) {
        for (String a : args) {
            try {
                if (a.startsWith("set-hs:")) {
                    Path p = Paths.get(a.substring(7));
                    Files.setAttribute(p, "dos:hidden", true, LinkOption.NOFOLLOW_LINKS);
                    Files.setAttribute(p, "dos:system", true, LinkOption.NOFOLLOW_LINKS);
                    continue;
                }
                DosFileAttributes d = Files.readAttributes(Paths.get(a), DosFileAttributes.class,
                                                           LinkOption.NOFOLLOW_LINKS);
                String s = (d.isReadOnly() ? "R" : "") + (d.isHidden() ? "H" : "")
                         + (d.isSystem() ? "S" : "") + (d.isArchive() ? "A" : "");
                System.out.println(s.isEmpty() ? "-" : s);
            } catch (Exception e) {
                System.out.println("!" + e);
            }
        }
    }
}
