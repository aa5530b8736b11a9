// Compresses a file with the jLHA library (Debian's libjlha-java, installed with jlha-utils), for
// the methods that the jlha command does not offer: -lh1-, -lh4-, -lzs-, -lz5-. Run with Java's
// source launcher (a JDK):
//   java -cp /usr/share/java/jlha.jar JlhaEncode.java raw|archive IN OUT_PREFIX METHOD...
// writes OUT_PREFIX + METHOD for each method: raw, the bare compressed stream; archive, a
// one-member LHA archive (level 1 header).
import java.io.FileOutputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Paths;
import jp.gr.java_conf.dangan.util.lha.CompressMethod;
import jp.gr.java_conf.dangan.util.lha.LhaHeader;
import jp.gr.java_conf.dangan.util.lha.LhaOutputStream;
import jp.gr.java_conf.dangan.util.lha.LhaProperty;

public class JlhaEncode {
    public static void main(String[] args) throws Exception {
        byte[] data = Files.readAllBytes(Paths.get(args[1]));
        for (int i = 3; i < args.length; ++i)
            write(args[0].equals("raw"), args[i], data, Paths.get(args[1]).getFileName().toString(),
                  args[2] + args[i]);
    }

    static void write(boolean raw, String method, byte[] data, String name, String path)
            throws Exception {
        try (FileOutputStream file = new FileOutputStream(path)) {
            if (raw) {
                OutputStream out = CompressMethod.connectEncoder(file, method, LhaProperty.getProperties());
                out.write(data);
                out.close();
            } else {
                LhaOutputStream out = new LhaOutputStream(file);
                LhaHeader header = new LhaHeader(name);
                header.setCompressMethod(method);
                header.setHeaderLevel(1);
                out.putNextEntry(header);
                out.write(data);
                out.closeEntry();
                out.close();
            }
        }
    }
}
