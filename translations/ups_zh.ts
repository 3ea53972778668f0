<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Dialog</name>
    <message>
        <source>English</source>
        <translation>英语</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>fileName</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>fileSize</source>
        <translation>文件大小</translation>
    </message>
    <message>
        <source>opration</source>
        <translation>勾选</translation>
    </message>
    <message>
        <source>progress</source>
        <translation>进度</translation>
    </message>
    <message>
        <source>updating file:</source>
        <translation>升级包：</translation>
    </message>
    <message>
        <source>       port:</source>
        <translation>       串口：</translation>
    </message>
    <message>
        <source>select</source>
        <translation>选择</translation>
    </message>
    <message>
        <source>updating</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>select zip file</source>
        <translation>选择固件压缩包</translation>
    </message>
    <message>
        <source>An update is running. Stop it now? The unit stays in its boot loader until it is updated again.</source>
        <translation>正在升级。现在停止升级吗？设备将停留在引导程序中，直到再次升级。</translation>
    </message>
    <message>
        <source>An update is running. Close the program now? The unit stays in its boot loader until it is updated again.</source>
        <translation>正在升级。现在关闭程序吗？设备将停留在引导程序中，直到再次升级。</translation>
    </message>
    <message>
        <source>nothing was sent!</source>
        <translation>未发送任何数据！</translation>
    </message>
    <message>
        <source>update stopped!</source>
        <translation>升级已停止！</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>no</source>
        <translation>否</translation>
    </message>
    <message>
        <source>stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>not sent</source>
        <translation>未发送</translation>
    </message>
    <message>
        <source>Save log…</source>
        <translation>保存日志…</translation>
    </message>
    <message>
        <source>Save log</source>
        <translation>保存日志</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>the log could not be saved to %1: %2</source>
        <translation>日志无法保存到 %1：%2</translation>
    </message>
    <message>
        <source>log saved to %1</source>
        <translation>日志已保存到 %1</translation>
    </message>
    <message>
        <source>the settings cannot be saved in %1: %2</source>
        <translation>设置无法保存到 %1：%2</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Usage: %1</source>
        <translation>用法：%1</translation>
    </message>
    <message>
        <source>[options]</source>
        <translation>[选项]</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>选项：</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>参数：</translation>
    </message>
    <message>
        <source>Displays help on commandline options.</source>
        <translation>显示命令行选项的帮助。</translation>
    </message>
    <message>
        <source>Displays help including Qt specific options.</source>
        <translation>显示帮助，包括 Qt 专有选项。</translation>
    </message>
    <message>
        <source>Displays version information.</source>
        <translation>显示版本信息。</translation>
    </message>
    <message>
        <source>Unknown option &apos;%1&apos;.</source>
        <translation>未知选项“%1”。</translation>
    </message>
    <message>
        <source>Unknown options: %1.</source>
        <translation>未知选项：%1。</translation>
    </message>
    <message>
        <source>Missing value after &apos;%1&apos;.</source>
        <translation>“%1”后缺少值。</translation>
    </message>
    <message>
        <source>Unexpected value after &apos;%1&apos;.</source>
        <translation>“%1”后不应有值。</translation>
    </message>
</context>
<context>
    <name>failureWords</name>
    <message>
        <source>The port could not be opened.</source>
        <translation>端口无法打开。</translation>
    </message>
    <message>
        <source>An image of the package could not be read.</source>
        <translation>固件包中的一个映像无法读取。</translation>
    </message>
    <message>
        <source>The unit refused the image.</source>
        <translation>设备拒绝了该映像。</translation>
    </message>
    <message>
        <source>The unit did not answer.</source>
        <translation>设备没有应答。</translation>
    </message>
    <message>
        <source>The unit did not accept the image&apos;s check.</source>
        <translation>设备未通过映像校验。</translation>
    </message>
    <message>
        <source>The unit could not erase its flash.</source>
        <translation>设备无法擦除闪存。</translation>
    </message>
    <message>
        <source>The transfer broke off.</source>
        <translation>传输中断。</translation>
    </message>
    <message>
        <source>The unit did not start its new firmware.</source>
        <translation>设备未能启动新固件。</translation>
    </message>
    <message>
        <source>The line speed could not be changed.</source>
        <translation>无法切换线路速率。</translation>
    </message>
    <message>
        <source>An object file of the package could not be translated.</source>
        <translation>固件包中的一个目标文件无法转换。</translation>
    </message>
    <message>
        <source>The update failed.</source>
        <translation>升级失败。</translation>
    </message>
    <message>
        <source>Check the adapter and the cable, then plug the unit in again.</source>
        <translation>检查适配器和线缆，然后重新接入设备。</translation>
    </message>
    <message>
        <source>Call the engineer: the package is faulty.</source>
        <translation>请联系工程师：固件包有问题。</translation>
    </message>
    <message>
        <source>Check that the unit is the package&apos;s model; else call the engineer.</source>
        <translation>确认设备型号与固件包一致；否则请联系工程师。</translation>
    </message>
    <message>
        <source>Check that the unit is powered and in its boot loader, then plug it in again.</source>
        <translation>确认设备已上电并处于引导程序中，然后重新接入。</translation>
    </message>
    <message>
        <source>Plug the unit in again; if it fails again, set it aside for repair.</source>
        <translation>重新接入设备；如果再次失败，请放到一边待修。</translation>
    </message>
    <message>
        <source>Set the unit aside for repair.</source>
        <translation>请将设备放到一边待修。</translation>
    </message>
    <message>
        <source>Switch the unit off and on, then plug it in again.</source>
        <translation>将设备断电再上电，然后重新接入。</translation>
    </message>
    <message>
        <source>Open the log and call the engineer.</source>
        <translation>打开日志并联系工程师。</translation>
    </message>
</context>
<context>
    <name>filesUpdate</name>
    <message>
        <source>no file updating!</source>
        <translation>没有要升级的文件！</translation>
    </message>
    <message>
        <source>prepare for updating file:</source>
        <translation>准备升级文件：</translation>
    </message>
    <message>
        <source>updating failed!</source>
        <translation>升级失败！</translation>
    </message>
    <message>
        <source>updating again!</source>
        <translation>重新升级：</translation>
    </message>
    <message>
        <source>updating success!</source>
        <translation>升级成功！</translation>
    </message>
    <message>
        <source>update finished!</source>
        <translation>全部升级完成！</translation>
    </message>
    <message>
        <source>begin to start updating main progress...</source>
        <translation>开始升级主控程序...</translation>
    </message>
    <message>
        <source>begin to start updating monitor progress...</source>
        <translation>开始升级监控程序...</translation>
    </message>
</context>
<context>
    <name>firstUnit</name>
    <message>
        <source>&apos;%1&apos; is not arm:CODE or dsp:CODE with CODE in 8 hex digits</source>
        <translation>“%1”不是 arm:CODE 或 dsp:CODE 的形式（CODE 为 8 位十六进制数）</translation>
    </message>
    <message>
        <source>%1 needs a framed step</source>
        <translation>%1 只能用于带帧的步骤</translation>
    </message>
    <message>
        <source>frame without ETX, %1 bytes dropped</source>
        <translation>帧缺少 ETX，已丢弃 %1 字节</translation>
    </message>
    <message>
        <source>stray bytes: %1</source>
        <translation>多余字节：%1</translation>
    </message>
    <message>
        <source>preamble</source>
        <translation>前导帧</translation>
    </message>
    <message>
        <source>bad preamble header: %1</source>
        <translation>前导帧头错误：%1</translation>
    </message>
    <message>
        <source>bad preamble checksum: %1</source>
        <translation>前导帧校验和错误：%1</translation>
    </message>
    <message>
        <source>unknown preamble data: %1</source>
        <translation>未知的前导帧数据：%1</translation>
    </message>
    <message>
        <source>bad stuffing 10 %1 in %2</source>
        <translation>转义 10 %1 错误，位于 %2</translation>
    </message>
    <message>
        <source>unstuffed STX inside a frame</source>
        <translation>帧内有未转义的 STX</translation>
    </message>
    <message>
        <source>DLE right before ETX</source>
        <translation>ETX 之前紧跟 DLE</translation>
    </message>
    <message>
        <source>command</source>
        <translation>命令帧</translation>
    </message>
    <message>
        <source>frame too short: %1</source>
        <translation>帧过短：%1</translation>
    </message>
    <message>
        <source>length field %1, frame carries %2</source>
        <translation>长度字段为 %1，帧实际携带 %2</translation>
    </message>
    <message>
        <source>bad CRC %1, expected %2</source>
        <translation>CRC 错误：%1，应为 %2</translation>
    </message>
    <message>
        <source>unknown command %1</source>
        <translation>未知命令 %1</translation>
    </message>
    <message>
        <source>%1 payload of %2 bytes: %3</source>
        <translation>%1 的数据长 %2 字节：%3</translation>
    </message>
    <message>
        <source>block written without an erase</source>
        <translation>未擦除就写入了数据块</translation>
    </message>
</context>
<context>
    <name>flashCommand</name>
    <message>
        <source>Unpacks and checks a firmware package and sends its images to a unit&apos;s boot loader.
With several --port, every unit gets the package at once, each line carries
the port&apos;s name, and a summary table ends the run.
Exit status: 0 every unit passed, 1 a unit failed after its retries (or its
report line could not be written), 2 usage error, unreadable package or no
image to send (nothing sent), 129 hung up (the terminal closed: SIGHUP) or
130 interrupted (Ctrl-C, SIGTERM); either way a unit was cut short.
The byte trace of the line and the engines shows with
QT_LOGGING_RULES=&quot;ups.*.debug=true&quot;.</source>
        <translation>解压并校验固件升级包，然后把其中的镜像发送到设备的引导程序。
给出多个 --port 时，所有设备同时升级，每行都带有
端口名，运行结束时打印汇总表。
退出状态：0 所有设备都通过；1 有设备重试后仍失败（或其
报告行无法写入）；2 用法错误、升级包无法读取或没有
可发送的镜像（未发送任何数据）；129 已挂断（终端已关闭：SIGHUP）；
130 已中断（Ctrl-C、SIGTERM）。后两种情况下都有设备未完成升级。
串口线路和引擎的字节跟踪可通过以下设置显示：
QT_LOGGING_RULES=&quot;ups.*.debug=true&quot;。</translation>
    </message>
    <message>
        <source>Serial device to use (e.g. /dev/ttyUSB0, COM3, a pty); repeat it to flash several units at once.</source>
        <translation>要使用的串口设备（例如 /dev/ttyUSB0、COM3 或一个 pty）；重复给出可同时升级多台设备。</translation>
    </message>
    <message>
        <source>Send only the images whose file name contains NAME (repeatable).</source>
        <translation>只发送文件名包含 NAME 的镜像（可重复）。</translation>
    </message>
    <message>
        <source>Unpack, check and translate, list what would be sent, open no port.</source>
        <translation>解压、校验并转换，列出将要发送的内容，不打开任何端口。</translation>
    </message>
    <message>
        <source>Language of the log: en or zh.</source>
        <translation>日志语言：en 或 zh。</translation>
    </message>
    <message>
        <source>Scale every protocol pause and timeout by F (above 0, at most 100). For simulated units only: a real unit needs the exact timing (1.0).</source>
        <translation>把每个协议停顿和超时乘以 F（大于 0，最大 100）。仅用于模拟设备：真实设备需要精确的时序（1.0）。</translation>
    </message>
    <message>
        <source>Append one JSON line per unit and attempt to FILE (not with --dry-run).</source>
        <translation>每台设备每次尝试向 FILE 追加一行 JSON（不能与 --dry-run 同用）。</translation>
    </message>
    <message>
        <source>Station name in the report (default: the host name).</source>
        <translation>报告中的工位名称（默认：主机名）。</translation>
    </message>
    <message>
        <source>Start a failed unit again from the image that failed, up to N more times (0 to %1).</source>
        <translation>从失败的镜像开始重新升级失败的设备，最多再试 N 次（0 到 %1）。</translation>
    </message>
    <message>
        <source>Wait for a port that does not exist yet (an adapter to plug in).</source>
        <translation>等待尚不存在的端口（待插入的适配器）。</translation>
    </message>
    <message>
        <source>Station mode: flash unit after unit on each port until Ctrl-C. The next unit starts when its port goes away and comes back, or on Enter (type a port&apos;s name or number first to start only that one). Implies --wait.</source>
        <translation>工位模式：每个端口逐台升级设备，直到按下 Ctrl-C。端口消失后再次出现或按下回车时开始下一台设备（先输入端口名或编号则只启动该端口）。隐含 --wait。</translation>
    </message>
    <message>
        <source>The firmware package.</source>
        <translation>固件升级包。</translation>
    </message>
    <message>
        <source>give exactly one package</source>
        <translation>请只给出一个升级包</translation>
    </message>
    <message>
        <source>--lang takes en or zh</source>
        <translation>--lang 只接受 en 或 zh</translation>
    </message>
    <message>
        <source>--time-scale takes a number above 0 and at most %1</source>
        <translation>--time-scale 需要大于 0 且不超过 %1 的数</translation>
    </message>
    <message>
        <source>--port is needed (or --dry-run)</source>
        <translation>需要 --port（或 --dry-run）</translation>
    </message>
    <message>
        <source>--port %1 is given twice</source>
        <translation>--port %1 给出了两次</translation>
    </message>
    <message>
        <source>--retries takes a whole number from 0 to %1</source>
        <translation>--retries 需要 0 到 %1 之间的整数</translation>
    </message>
    <message>
        <source>--loop and --report flash units; a dry run flashes none</source>
        <translation>--loop 和 --report 用于升级设备；试运行不升级任何设备</translation>
    </message>
    <message>
        <source>--report needs a file name</source>
        <translation>--report 需要文件名</translation>
    </message>
    <message>
        <source>--station needs a name</source>
        <translation>--station 需要名称</translation>
    </message>
    <message>
        <source>cannot append to the report %1: %2</source>
        <translation>无法追加到报告 %1：%2</translation>
    </message>
    <message>
        <source>try --help</source>
        <translation>请参阅 --help</translation>
    </message>
    <message>
        <source>dry run: nothing was sent</source>
        <translation>试运行：未发送任何数据</translation>
    </message>
    <message>
        <source>warn: no Chinese translation beside the program; the log stays in English</source>
        <translation>警告：程序旁没有中文翻译，日志保持英文</translation>
    </message>
    <message>
        <source>Write JSON Lines events on stdout instead of text (see %1).</source>
        <translation>在标准输出上输出 JSON Lines 事件而不是文本（见 %1）。</translation>
    </message>
    <message>
        <source>Send only packages signed by the key in FILE.pub (repeatable). The keys in %1 are trusted as well.</source>
        <translation>只发送由 FILE.pub 中的密钥签名的固件包（可重复）。%1 中的密钥同样受信任。</translation>
    </message>
    <message>
        <source>Refuse every package that no trusted key signed, even when no key is trusted at all (then every package is refused); as require-signature=true in %1.</source>
        <translation>拒绝所有未经受信任密钥签名的固件包，即使没有任何受信任的密钥（此时所有固件包都被拒绝）；与 %1 中的 require-signature=true 相同。</translation>
    </message>
</context>
<context>
    <name>flashFleet</name>
    <message>
        <source>cannot write to the report %1: %2</source>
        <translation>无法写入报告 %1：%2</translation>
    </message>
</context>
<context>
    <name>flashRun</name>
    <message>
        <source>cannot read the package %1: %2</source>
        <translation>无法读取升级包 %1：%2</translation>
    </message>
    <message>
        <source>the package name must end in &quot;.zip&quot; after a name: %1</source>
        <translation>升级包文件名必须由名称加“.zip”组成：%1</translation>
    </message>
    <message>
        <source>the package path names neither &quot;5-10k&quot; nor &quot;15-20k&quot;; taking model 0</source>
        <translation>升级包路径中既没有“5-10k”也没有“15-20k”；按型号 0 处理</translation>
    </message>
    <message>
        <source>no image of the package matches %1</source>
        <translation>升级包中没有与 %1 匹配的镜像</translation>
    </message>
    <message>
        <source>no image to send</source>
        <translation>没有可发送的镜像</translation>
    </message>
    <message>
        <source>nothing was sent</source>
        <translation>未发送任何数据</translation>
    </message>
    <message>
        <source>first board engine</source>
        <translation>第一种主板的引擎</translation>
    </message>
    <message>
        <source>second board engine</source>
        <translation>第二种主板的引擎</translation>
    </message>
    <message>
        <source>would send %1 (%2 bytes) to the %3, image %4, row %5</source>
        <translation>将把 %1（%2 字节）发送给%3，镜像 %4，第 %5 行</translation>
    </message>
    <message>
        <source>warn: %1</source>
        <translation>警告：%1</translation>
    </message>
    <message>
        <source>interrupted: the unit stays in its boot loader; run the update again to flash it</source>
        <translation>已中断：设备停留在引导程序中；请再次运行升级以完成烧写</translation>
    </message>
</context>
<context>
    <name>objectFile</name>
    <message>
        <source>no translating file:</source>
        <translation>没有要转换的文件：</translation>
    </message>
    <message>
        <source>file reading failed!
</source>
        <translation>文件读取失败！
</translation>
    </message>
    <message>
        <source>file format error!
</source>
        <translation>文件格式错误！
</translation>
    </message>
    <message>
        <source>translating fail!
</source>
        <translation>转换失败！
</translation>
    </message>
    <message>
        <source>translating success!
</source>
        <translation>转换成功！
</translation>
    </message>
    <message>
        <source>file reading error!
</source>
        <translation>文件读取出错！
</translation>
    </message>
    <message>
        <source>start address error!
</source>
        <translation>起始地址错误！
</translation>
    </message>
</context>
<context>
    <name>ownFiles</name>
    <message>
        <source>%1 was left as it is: this tool did not write it</source>
        <translation>%1 保持原样：它不是本工具写入的</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
</context>
<context>
    <name>packCommand</name>
    <message>
        <source>ups-pack OUT.zip IMAGE...                  write a package, each image with its SHA-256 trailer
ups-pack --sign NAME.key OUT.zip IMAGE...  the same, signed: one more member, SIGNATURE
ups-pack --keygen NAME                     write a signing key pair NAME.key and NAME.pub
ups-pack --verify [--trust K.pub]... PACKAGE.zip
                                           report each member&apos;s trailer and the signature
ups-pack --make-sample DIR                 write sample packages for both models into DIR
Exit status: 0 done, 1 a bad member or signature, 2 usage error or unreadable input.</source>
        <translation>ups-pack OUT.zip IMAGE...                  写入升级包，每个镜像末尾附上其 SHA-256 摘要
ups-pack --sign NAME.key OUT.zip IMAGE...  同上并签名：多一个成员 SIGNATURE
ups-pack --keygen NAME                     写入签名密钥对 NAME.key 和 NAME.pub
ups-pack --verify [--trust K.pub]... PACKAGE.zip
                                           报告每个成员的摘要尾部和签名
ups-pack --make-sample DIR                 把两种型号的示例升级包写入 DIR
退出状态：0 完成；1 有损坏的成员或签名无效；2 用法错误或输入无法读取。</translation>
    </message>
    <message>
        <source>Check the trailers of PACKAGE.zip in memory.</source>
        <translation>在内存中检查 PACKAGE.zip 各成员的摘要尾部。</translation>
    </message>
    <message>
        <source>Sign the package with the secret key in FILE.</source>
        <translation>用 FILE 中的私钥为升级包签名。</translation>
    </message>
    <message>
        <source>Write a new key pair NAME.key and NAME.pub.</source>
        <translation>写入新的密钥对 NAME.key 和 NAME.pub。</translation>
    </message>
    <message>
        <source>With --verify: a public key to check the signature with.</source>
        <translation>与 --verify 同用：用于校验签名的公钥。</translation>
    </message>
    <message>
        <source>Write ups_5-10k.zip, ups_15-20k.zip, images/ and expected/ into DIR.</source>
        <translation>把 ups_5-10k.zip、ups_15-20k.zip、images/ 和 expected/ 写入 DIR。</translation>
    </message>
    <message>
        <source>OUT.zip IMAGE..., PACKAGE.zip or DIR</source>
        <translation>OUT.zip IMAGE...、PACKAGE.zip 或 DIR</translation>
    </message>
    <message>
        <source>--verify, --make-sample, --keygen and --sign exclude each other</source>
        <translation>--verify、--make-sample、--keygen 和 --sign 不能同时使用</translation>
    </message>
    <message>
        <source>--trust goes with --verify</source>
        <translation>--trust 只能与 --verify 同用</translation>
    </message>
    <message>
        <source>give exactly one argument</source>
        <translation>请只给出一个参数</translation>
    </message>
    <message>
        <source>give the package and at least one image</source>
        <translation>请给出升级包和至少一个镜像</translation>
    </message>
</context>
<context>
    <name>packTool</name>
    <message>
        <source>cannot read %1: %2</source>
        <translation>无法读取 %1：%2</translation>
    </message>
    <message>
        <source>warning: %1 names neither model (&quot;5-10k&quot; or &quot;15-20k&quot;); the tool will take the model of the package opened before</source>
        <translation>警告：%1 没有指明型号（“5-10k”或“15-20k”）；工具将沿用之前打开的升级包的型号</translation>
    </message>
    <message>
        <source>warning: %1 is not an image name of this model (%2)</source>
        <translation>警告：%1 不是该型号的镜像名（%2）</translation>
    </message>
    <message>
        <source>a signed package must name its model (&quot;5-10k&quot; or &quot;15-20k&quot;)</source>
        <translation>签名的升级包必须指明型号（“5-10k”或“15-20k”）</translation>
    </message>
    <message>
        <source>cannot use the key %1: %2</source>
        <translation>无法使用密钥 %1：%2</translation>
    </message>
    <message>
        <source>warning: the secret key %1 can be read or changed by others than its owner; keep it private: chmod 600 %1</source>
        <translation>警告：所有者以外的人可以读取或修改私钥 %1；请妥善保管：chmod 600 %1</translation>
    </message>
    <message>
        <source>cannot create %1</source>
        <translation>无法创建 %1</translation>
    </message>
    <message>
        <source>cannot add %1</source>
        <translation>无法添加 %1</translation>
    </message>
    <message>
        <source>cannot sign %1 (an image name holds a line break or is SIGNATURE)</source>
        <translation>无法为 %1 签名（某个镜像名含有换行符或就是 SIGNATURE）</translation>
    </message>
    <message>
        <source>cannot write %1</source>
        <translation>无法写入 %1</translation>
    </message>
    <message>
        <source>%1: %2 images</source>
        <translation>%1：%2 个镜像</translation>
    </message>
    <message>
        <source>%1: %2 images, signed by %3</source>
        <translation>%1：%2 个镜像，签名者 %3</translation>
    </message>
    <message>
        <source>cannot make the key pair %1: %2</source>
        <translation>无法生成密钥对 %1：%2</translation>
    </message>
    <message>
        <source>%1.key (secret: keep it off shared disks) and %1.pub (give it to the stations), key id %2</source>
        <translation>%1.key（私钥：不要放在共享磁盘上）和 %1.pub（分发给各工位），密钥 ID %2</translation>
    </message>
    <message>
        <source>cannot read the package %1</source>
        <translation>无法读取升级包 %1</translation>
    </message>
    <message>
        <source>good</source>
        <translation>完好</translation>
    </message>
    <message>
        <source>bad (damaged member)</source>
        <translation>错误（成员已损坏）</translation>
    </message>
    <message>
        <source>bad (digest trailer does not match)</source>
        <translation>错误（摘要尾部不匹配）</translation>
    </message>
    <message>
        <source>%1: %2 (%3 bytes)</source>
        <translation>%1：%2（%3 字节）</translation>
    </message>
    <message>
        <source>the package holds no member</source>
        <translation>升级包中没有任何成员</translation>
    </message>
    <message>
        <source>SIGNATURE: good, signed by %1 (trusted)</source>
        <translation>SIGNATURE：有效，签名者 %1（受信任）</translation>
    </message>
    <message>
        <source>SIGNATURE: signed by %1, not checked (give --trust KEY.pub)</source>
        <translation>SIGNATURE：签名者 %1，未校验（请给出 --trust KEY.pub）</translation>
    </message>
    <message>
        <source>SIGNATURE: bad: %1</source>
        <translation>SIGNATURE：无效：%1</translation>
    </message>
    <message>
        <source>SIGNATURE: none (the package is not signed)</source>
        <translation>SIGNATURE：无（升级包未签名）</translation>
    </message>
    <message>
        <source>SIGNATURE: unreadable: %1</source>
        <translation>SIGNATURE：无法读取：%1</translation>
    </message>
    <message>
        <source>%1 (%2 bytes)</source>
        <translation>%1（%2 字节）</translation>
    </message>
    <message>
        <source>%1/%2: %3</source>
        <translation>%1/%2：%3</translation>
    </message>
    <message>
        <source>%1/expected: the flat images each unit must hold</source>
        <translation>%1/expected：每台设备最终应有的平面镜像</translation>
    </message>
</context>
<context>
    <name>packageSignature</name>
    <message>
        <source>%1 cannot be read</source>
        <translation>无法读取 %1</translation>
    </message>
    <message>
        <source>%1 is larger than any member can be</source>
        <translation>%1 超过了成员允许的最大大小</translation>
    </message>
    <message>
        <source>%1 was signed but is missing</source>
        <translation>%1 已签名但缺失</translation>
    </message>
    <message>
        <source>%1 was not signed</source>
        <translation>%1 未被签名</translation>
    </message>
    <message>
        <source>%1 is not the file that was signed</source>
        <translation>%1 不是被签名的那个文件</translation>
    </message>
    <message>
        <source>it is cut short or not a signature</source>
        <translation>签名被截断或不是签名</translation>
    </message>
    <message>
        <source>its format is not version %1</source>
        <translation>签名格式不是第 %1 版</translation>
    </message>
    <message>
        <source>its key or model line is damaged</source>
        <translation>签名的密钥行或型号行已损坏</translation>
    </message>
    <message>
        <source>member line %1 is damaged</source>
        <translation>第 %1 个成员行已损坏</translation>
    </message>
    <message>
        <source>its signature line is damaged</source>
        <translation>签名行已损坏</translation>
    </message>
    <message>
        <source>it is not signed</source>
        <translation>固件包未签名</translation>
    </message>
    <message>
        <source>it holds more than one SIGNATURE</source>
        <translation>固件包含有多个 SIGNATURE</translation>
    </message>
    <message>
        <source>its SIGNATURE is damaged: %1</source>
        <translation>SIGNATURE 已损坏：%1</translation>
    </message>
    <message>
        <source>it is signed by %1, a key that is not trusted</source>
        <translation>签名密钥 %1 不受信任</translation>
    </message>
    <message>
        <source>its SIGNATURE was not made by key %1</source>
        <translation>SIGNATURE 不是由密钥 %1 生成的</translation>
    </message>
    <message>
        <source>it was signed for model %1, its name makes it model %2</source>
        <translation>签名针对型号 %1，但包名表明型号为 %2</translation>
    </message>
</context>
<context>
    <name>progress</name>
    <message>
        <source>reading failed!</source>
        <translation>读取失败！</translation>
    </message>
    <message>
        <source>verify code error!</source>
        <translation>校验码读取失败！</translation>
    </message>
    <message>
        <source>port opening failed!</source>
        <translation>串口打开失败！</translation>
    </message>
    <message>
        <source>updating...</source>
        <translation>正在升级...</translation>
    </message>
    <message>
        <source>port open failed!</source>
        <translation>打开串口失败！</translation>
    </message>
    <message>
        <source>shake hand success!</source>
        <translation>握手成功！</translation>
    </message>
    <message>
        <source>verify success!</source>
        <translation>校验成功！</translation>
    </message>
    <message>
        <source>erea success!</source>
        <translation>擦除成功！</translation>
    </message>
    <message>
        <source>writing flash!</source>
        <translation>正在写入闪存！</translation>
    </message>
    <message>
        <source>flash writed success!</source>
        <translation>闪存写入成功！</translation>
    </message>
    <message>
        <source>shake hand failed!</source>
        <translation>握手失败！</translation>
    </message>
    <message>
        <source>verify failed!</source>
        <translation>校验失败！</translation>
    </message>
    <message>
        <source>erea failed!</source>
        <translation>擦除失败！</translation>
    </message>
    <message>
        <source>shake hand...</source>
        <translation>正在握手...</translation>
    </message>
    <message>
        <source>flash send failed!</source>
        <translation>闪存数据发送失败！</translation>
    </message>
    <message>
        <source>jump failed!</source>
        <translation>跳转失败！</translation>
    </message>
    <message>
        <source>updating success!</source>
        <translation>升级成功！</translation>
    </message>
    <message>
        <source>the processor was not chosen: the unit did not answer the preamble, so its boot loader decides by the verify code</source>
        <translation>未选择处理器：设备未应答前导帧，由其引导程序根据校验码决定</translation>
    </message>
    <message>
        <source>erase</source>
        <translation>擦除</translation>
    </message>
    <message>
        <source>flash write</source>
        <translation>闪存写入</translation>
    </message>
    <message>
        <source>shake hand</source>
        <translation>握手</translation>
    </message>
    <message>
        <source>verify</source>
        <translation>校验</translation>
    </message>
    <message>
        <source>jump</source>
        <translation>跳转</translation>
    </message>
</context>
<context>
    <name>progress1</name>
    <message>
        <source>port opening failed!</source>
        <translation>串口打开失败！</translation>
    </message>
    <message>
        <source>verify failed!</source>
        <translation>校验失败！</translation>
    </message>
    <message>
        <source>verify success!</source>
        <translation>校验成功！</translation>
    </message>
    <message>
        <source>get file size!</source>
        <translation>文件大小已确认！</translation>
    </message>
    <message>
        <source>file size get failed!</source>
        <translation>文件大小确认失败！</translation>
    </message>
    <message>
        <source>erase successs!</source>
        <translation>擦除成功！</translation>
    </message>
    <message>
        <source>erase failed!</source>
        <translation>擦除失败！</translation>
    </message>
    <message>
        <source>prepare for updating!</source>
        <translation>准备升级！</translation>
    </message>
    <message>
        <source>port change success!</source>
        <translation>波特率切换成功！</translation>
    </message>
    <message>
        <source>updating success!</source>
        <translation>升级成功！</translation>
    </message>
    <message>
        <source>updating failed!</source>
        <translation>升级失败！</translation>
    </message>
    <message>
        <source>timeout!</source>
        <translation>超时！</translation>
    </message>
    <message>
        <source>change the port!</source>
        <translation>正在切换波特率…</translation>
    </message>
    <message>
        <source>begin to erase!</source>
        <translation>开始擦除！</translation>
    </message>
    <message>
        <source>timeout, retry %1...
</source>
        <translation>超时，第%1次重试...
</translation>
    </message>
    <message>
        <source>begin to updating!</source>
        <translation>开始升级！</translation>
    </message>
    <message>
        <source>updating finished!</source>
        <translation>数据发送完毕！</translation>
    </message>
    <message>
        <source>start command</source>
        <translation>启动命令</translation>
    </message>
    <message>
        <source>file-size command</source>
        <translation>文件大小命令</translation>
    </message>
    <message>
        <source>change-port command</source>
        <translation>切换波特率命令</translation>
    </message>
    <message>
        <source>erase command</source>
        <translation>擦除命令</translation>
    </message>
    <message>
        <source>data frames</source>
        <translation>数据帧</translation>
    </message>
</context>
<context>
    <name>progressMeter</name>
    <message>
        <source>%1 %2% %3/%4 bytes %5 B/s %6 left</source>
        <translation>%1 %2% %3/%4 字节 %5 B/s 剩余 %6</translation>
    </message>
    <message>
        <source>%1: %2% (%3 of %4 bytes)</source>
        <translation>%1：%2%（%3/%4 字节）</translation>
    </message>
</context>
<context>
    <name>regularFile</name>
    <message>
        <source>it is larger than %1 bytes</source>
        <translation>文件大于 %1 字节</translation>
    </message>
    <message>
        <source>it is a folder</source>
        <translation>它是一个文件夹</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>它不是普通文件</translation>
    </message>
</context>
<context>
    <name>sampleMaker</name>
    <message>
        <source>%1: cannot create directories</source>
        <translation>%1：无法创建目录</translation>
    </message>
    <message>
        <source>%1: cannot create</source>
        <translation>%1：无法创建</translation>
    </message>
    <message>
        <source>%1: cannot add to the package</source>
        <translation>%1：无法添加到升级包</translation>
    </message>
    <message>
        <source>%1: cannot write</source>
        <translation>%1：无法写入</translation>
    </message>
</context>
<context>
    <name>secondUnit</name>
    <message>
        <source>%1 stray bytes before a start command</source>
        <translation>启动命令前有 %1 个多余字节</translation>
    </message>
    <message>
        <source>stray byte %1</source>
        <translation>多余字节 %1</translation>
    </message>
    <message>
        <source>start command with a bad CRC</source>
        <translation>启动命令的 CRC 错误</translation>
    </message>
    <message>
        <source>start command with unknown code %1</source>
        <translation>启动命令含未知代码 %1</translation>
    </message>
    <message>
        <source>bad file-size command %1</source>
        <translation>文件大小命令错误：%1</translation>
    </message>
    <message>
        <source>announced size %1 is no whole number of frames</source>
        <translation>声明的大小 %1 不是整数个帧</translation>
    </message>
    <message>
        <source>bad change-port command %1</source>
        <translation>切换端口命令错误：%1</translation>
    </message>
    <message>
        <source>bad erase command %1</source>
        <translation>擦除命令错误：%1</translation>
    </message>
    <message>
        <source>data frame with a bad XOR</source>
        <translation>数据帧的 XOR 校验错误</translation>
    </message>
    <message>
        <source>data frame %1, expected %2</source>
        <translation>数据帧序号 %1，应为 %2</translation>
    </message>
    <message>
        <source>data frame beyond the end of the image</source>
        <translation>数据帧超出镜像末尾</translation>
    </message>
    <message>
        <source>%1 frame</source>
        <translation>%1 帧</translation>
    </message>
</context>
<context>
    <name>serialport</name>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>warn</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>sure</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>no port</source>
        <translation>未找到串口！</translation>
    </message>
    <message>
        <source>opening failed!</source>
        <translation>串口打开失败！</translation>
    </message>
    <message>
        <source>%1 is in use by another program</source>
        <translation>%1 正被另一个程序使用</translation>
    </message>
    <message>
        <source>If the port is not in use: unplug the adapter and plug it in again (the installed rule gives a USB adapter to the user at the desk), or add the user to the dialout group: sudo usermod -aG dialout $USER, then log in again.</source>
        <translation>如果该端口没有被占用：拔下适配器再重新插上（已安装的规则会把 USB 适配器交给当前坐在电脑前的用户），或者把用户加入 dialout 组：sudo usermod -aG dialout $USER，然后重新登录。</translation>
    </message>
</context>
<context>
    <name>settingsFile</name>
    <message>
        <source>it is not a settings file</source>
        <translation>它不是设置文件</translation>
    </message>
    <message>
        <source>it cannot be written</source>
        <translation>它无法写入</translation>
    </message>
    <message>
        <source>it is read-only</source>
        <translation>它是只读的</translation>
    </message>
    <message>
        <source>its folder %1 cannot be made</source>
        <translation>无法创建它的文件夹 %1</translation>
    </message>
    <message>
        <source>its folder %1 is read-only</source>
        <translation>它的文件夹 %1 是只读的</translation>
    </message>
</context>
<context>
    <name>setupDialog</name>
    <message>
        <source>Station set-up: %1</source>
        <translation>工位设置：%1</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>选择…</translation>
    </message>
    <message>
        <source>a folder of .pub keys; empty for none</source>
        <translation>存放 .pub 公钥的文件夹；留空表示不使用</translation>
    </message>
    <message>
        <source>refuse a package no trusted key signed</source>
        <translation>拒绝未经受信任公钥签名的固件包</translation>
    </message>
    <message>
        <source>when its port appears (an adapter per unit)</source>
        <translation>端口出现时（每台设备一个适配器）</translation>
    </message>
    <message>
        <source>on its button or Enter</source>
        <translation>按按钮或回车</translation>
    </message>
    <message>
        <source>not asked</source>
        <translation>不要求</translation>
    </message>
    <message>
        <source>optional</source>
        <translation>可选</translation>
    </message>
    <message>
        <source>required before a start</source>
        <translation>开始前必须输入</translation>
    </message>
    <message>
        <source>one port per line: slot 1, slot 2, …</source>
        <translation>每行一个端口：工位 1、工位 2、…</translation>
    </message>
    <message>
        <source>Package</source>
        <translation>固件包</translation>
    </message>
    <message>
        <source>Report</source>
        <translation>报告</translation>
    </message>
    <message>
        <source>Trusted keys</source>
        <translation>受信任公钥</translation>
    </message>
    <message>
        <source>Retries</source>
        <translation>重试次数</translation>
    </message>
    <message>
        <source>Signature</source>
        <translation>签名</translation>
    </message>
    <message>
        <source>A slot starts</source>
        <translation>工位开始方式</translation>
    </message>
    <message>
        <source>Unit serial number</source>
        <translation>设备序列号</translation>
    </message>
    <message>
        <source>Ports</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Firmware package</source>
        <translation>固件包</translation>
    </message>
    <message>
        <source>Packages (*.zip)</source>
        <translation>固件包 (*.zip)</translation>
    </message>
    <message>
        <source>the profile %1 cannot be written: %2</source>
        <translation>无法写入配置文件 %1：%2</translation>
    </message>
    <message>
        <source>Station set-up</source>
        <translation>工位设置</translation>
    </message>
</context>
<context>
    <name>simCommand</name>
    <message>
        <source>Model 0: the boot loader already runs for PROCESSOR (arm or dsp), as in a unit left in it: it does not answer the preamble, flashes every image into PROCESSOR and refuses (NAK) every verify code but CODE, 8 hex digits as the verify command carries them (the little-endian word at 0xB000 of an arm image, at 0x17FE8 of a dsp image, most significant byte first: 12345678 for the sample arm.bin).</source>
        <translation>型号 0：引导程序已为 PROCESSOR（arm 或 dsp）运行，如同停留在引导程序中的设备：它不应答前导帧，把每个映像都烧写进 PROCESSOR，并拒绝（NAK）除 CODE 之外的所有校验码；CODE 为 8 位十六进制数，与校验命令中的写法相同（arm 映像 0xB000 处、dsp 映像 0x17FE8 处的小端字，高字节在前：示例 arm.bin 为 12345678）。</translation>
    </message>
    <message>
        <source>bad --running: %1</source>
        <translation>--running 无效：%1</translation>
    </message>
    <message>
        <source>model 0 only</source>
        <translation>仅限型号 0</translation>
    </message>
    <message>
        <source>Creates a raw pseudo-terminal pair for each unit, prints the device paths for
the tool to open (one a line, in unit order) and answers as the units&apos; boot
loaders until SIGINT or SIGTERM. With --count N above 1, unit K is linked as
PATH-K, saves in DIR/K and starts its job lines with [K].

Faults (--fault, repeatable):
%1

Model 0:
%2

Model 1:
%3</source>
        <translation>为每台设备创建一对原始伪终端，打印供工具打开的设备路径
（每行一个，按设备顺序），并以设备引导程序的身份应答，
直到收到 SIGINT 或 SIGTERM。--count N 大于 1 时，设备 K 链接为
PATH-K，保存到 DIR/K，其作业行以 [K] 开头。

故障（--fault，可重复）：
%1

型号 0：
%2

型号 1：
%3</translation>
    </message>
    <message>
        <source>0 (&quot;5-10k&quot; units) or 1 (&quot;15-20k&quot; units).</source>
        <translation>0（“5-10k”设备）或 1（“15-20k”设备）。</translation>
    </message>
    <message>
        <source>Serve N units of the model at once, each on its own line (1 to %1).</source>
        <translation>同时模拟该型号的 N 台设备，每台使用各自的线路（1 到 %1）。</translation>
    </message>
    <message>
        <source>Also make PATH a symlink to the device (PATH-1, PATH-2, ... with --count).</source>
        <translation>另外把 PATH 做成指向设备的符号链接（有 --count 时为 PATH-1、PATH-2……）。</translation>
    </message>
    <message>
        <source>Save each flashed image in DIR (DIR/1, DIR/2, ... with --count), named after the
processor (arm.bin, ...).</source>
        <translation>把每个烧写的镜像保存到 DIR（有 --count 时为 DIR/1、DIR/2……），
以处理器命名（arm.bin 等）。</translation>
    </message>
    <message>
        <source>Pace both directions at the line speed in effect (10 bits a byte).</source>
        <translation>两个方向都按当前线路速率限速（每字节 10 位）。</translation>
    </message>
    <message>
        <source>Misbehave as FAULT says (see below); UNIT/FAULT for one unit only.</source>
        <translation>按 FAULT 的描述故意出错（见下文）；UNIT/FAULT 只作用于一台设备。</translation>
    </message>
    <message>
        <source>Scale the unit&apos;s own pauses by F (above 0, at most 100).</source>
        <translation>把设备自身的停顿乘以 F（大于 0，最大 100）。</translation>
    </message>
    <message>
        <source>usage: ups-unit-sim --model 0|1 [options]; try --help</source>
        <translation>用法：ups-unit-sim --model 0|1 [选项]；请参阅 --help</translation>
    </message>
    <message>
        <source>usage: --count takes a whole number from 1 to %1; try --help</source>
        <translation>用法：--count 需要 1 到 %1 之间的整数；请参阅 --help</translation>
    </message>
    <message>
        <source>usage: --time-scale takes a number above 0 and at most %1; try --help</source>
        <translation>用法：--time-scale 需要大于 0 且不超过 %1 的数；请参阅 --help</translation>
    </message>
    <message>
        <source>cannot create %1</source>
        <translation>无法创建 %1</translation>
    </message>
    <message>
        <source>bad fault %1: %2</source>
        <translation>错误的故障 %1：%2</translation>
    </message>
    <message>
        <source>cannot open a pseudo-terminal</source>
        <translation>无法打开伪终端</translation>
    </message>
    <message>
        <source>cannot make the link %1</source>
        <translation>无法创建链接 %1</translation>
    </message>
    <message>
        <source>violation: %1</source>
        <translation>协议违规：%1</translation>
    </message>
    <message>
        <source>Hold each reply MS more (0 to %1, fractions allowed), as a USB adapter&apos;s latency timer does; scaled like the line time.</source>
        <translation>每个应答再多保持 MS 毫秒（0 到 %1，可带小数），如同 USB 适配器的延迟定时器；与线路时间一样按比例缩放。</translation>
    </message>
    <message>
        <source>Write the tool&apos;s turnaround of each exchange (from a reply&apos;s last byte out to the next request&apos;s first byte in) to FILE in microseconds, one a line (FILE-1, FILE-2, ... with --count).</source>
        <translation>把工具每次交换的周转时间（从应答最后一个字节发出到下一条请求第一个字节到达）以微秒为单位写入 FILE，每行一个（使用 --count 时为 FILE-1、FILE-2……）。</translation>
    </message>
    <message>
        <source>usage: --reply-latency takes a number from 0 to %1; try --help</source>
        <translation>用法：--reply-latency 需要 0 到 %1 之间的数；请参阅 --help</translation>
    </message>
    <message>
        <source>cannot write %1</source>
        <translation>无法写入 %1</translation>
    </message>
</context>
<context>
    <name>simulatedUnit</name>
    <message>
        <source>no reply</source>
        <translation>不应答</translation>
    </message>
    <message>
        <source>reply NAK (framed steps only)</source>
        <translation>应答 NAK（仅限带帧的步骤）</translation>
    </message>
    <message>
        <source>noise without STX before the reply</source>
        <translation>应答前先发送不含 STX 的噪声</translation>
    </message>
    <message>
        <source>an extra frame with an unknown code after the reply (framed steps only)</source>
        <translation>应答后多发一个代码未知的帧（仅限带帧的步骤）</translation>
    </message>
    <message>
        <source>an extra frame with the step&apos;s code and an unknown status (framed steps only)</source>
        <translation>应答后多发一个带本步骤代码和未知状态的帧（仅限带帧的步骤）</translation>
    </message>
    <message>
        <source>the reply byte by byte</source>
        <translation>逐字节发送应答</translation>
    </message>
    <message>
        <source>the reply in two pieces, cut right after a DLE</source>
        <translation>把应答分两段发送，紧接 DLE 之后切开</translation>
    </message>
    <message>
        <source>close the line instead of replying</source>
        <translation>关闭线路而不应答</translation>
    </message>
    <message>
        <source>the start request at 2400 baud</source>
        <translation>2400 波特率下的启动请求</translation>
    </message>
    <message>
        <source>the confirm request at 2400 baud</source>
        <translation>2400 波特率下的确认请求</translation>
    </message>
    <message>
        <source>the choice of processor, which gets no reply</source>
        <translation>处理器选择（不会得到应答）</translation>
    </message>
    <message>
        <source>the framed shake hand at 9600 baud</source>
        <translation>9600 波特率下的带帧握手</translation>
    </message>
    <message>
        <source>the verify code</source>
        <translation>校验码</translation>
    </message>
    <message>
        <source>the erase of the flash</source>
        <translation>擦除闪存</translation>
    </message>
    <message>
        <source>a block of the image (@N: the N-th block)</source>
        <translation>镜像的一个数据块（@N：第 N 块）</translation>
    </message>
    <message>
        <source>the jump into the new firmware</source>
        <translation>跳转到新固件</translation>
    </message>
    <message>
        <source>a complete but wrong reply</source>
        <translation>完整但错误的应答</translation>
    </message>
    <message>
        <source>the reply as a 12-byte reply</source>
        <translation>把应答作为 12 字节应答发送</translation>
    </message>
    <message>
        <source>the reply as a 13-byte reply</source>
        <translation>把应答作为 13 字节应答发送</translation>
    </message>
    <message>
        <source>13 bytes of noise before the reply</source>
        <translation>应答前先发送 13 字节噪声</translation>
    </message>
    <message>
        <source>the reply twice in one write</source>
        <translation>在一次写入中发送两遍应答</translation>
    </message>
    <message>
        <source>the reply byte by byte, with a short pause between bytes</source>
        <translation>逐字节发送应答，字节之间短暂停顿</translation>
    </message>
    <message>
        <source>the reply in two writes</source>
        <translation>分两次写入发送应答</translation>
    </message>
    <message>
        <source>the start command at 2400 baud</source>
        <translation>2400 波特率下的启动命令</translation>
    </message>
    <message>
        <source>the file-size command (monitor images)</source>
        <translation>文件大小命令（监控镜像）</translation>
    </message>
    <message>
        <source>the change-port command, answered by its echo</source>
        <translation>切换端口命令，以回显作答</translation>
    </message>
    <message>
        <source>the erase command at 9600 baud</source>
        <translation>9600 波特率下的擦除命令</translation>
    </message>
    <message>
        <source>a data frame (@N: the N-th frame, resends included)</source>
        <translation>一个数据帧（@N：第 N 帧，重发也计数）</translation>
    </message>
    <message>
        <source>KIND[:STEP][@N]: KIND alone hits every answer of every step, :STEP only the
answers to that step, @N only the N-th answer to the step (to each step without
STEP), counted from the unit&apos;s start or reset, resends included.</source>
        <translation>KIND[:STEP][@N]：只有 KIND 时作用于每个步骤的每次应答，:STEP 只作用于
该步骤的应答，@N 只作用于该步骤的第 N 次应答（没有 STEP 时对每个步骤），
从设备启动或复位时开始计数，重发也计数。</translation>
    </message>
    <message>
        <source>%1 (or %2)</source>
        <translation>%1（或 %2）</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not KIND[:STEP][@N]</source>
        <translation>“%1”不符合 KIND[:STEP][@N]</translation>
    </message>
    <message>
        <source>unknown fault &apos;%1&apos;</source>
        <translation>未知故障“%1”</translation>
    </message>
    <message>
        <source>unknown step &apos;%1&apos;</source>
        <translation>未知步骤“%1”</translation>
    </message>
    <message>
        <source>bad count &apos;%1&apos;</source>
        <translation>错误的次数“%1”</translation>
    </message>
    <message>
        <source>%1 at %2 baud, expected %3</source>
        <translation>%1 的波特率为 %2，应为 %3</translation>
    </message>
    <message>
        <source>(not saved: %1)</source>
        <translation>（未保存：%1）</translation>
    </message>
</context>
<context>
    <name>slotTile</name>
    <message>
        <source>Slot %1</source>
        <translation>工位 %1</translation>
    </message>
    <message>
        <source>unit serial number</source>
        <translation>设备序列号</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>开始</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>日志</translation>
    </message>
    <message>
        <source>Slot %1: log</source>
        <translation>工位 %1：日志</translation>
    </message>
    <message>
        <source>SERIAL?</source>
        <translation>序列号？</translation>
    </message>
    <message>
        <source>Scan or type the unit&apos;s serial number first.</source>
        <translation>请先扫描或输入设备序列号。</translation>
    </message>
    <message>
        <source>Connect the unit, then press Start.</source>
        <translation>接好设备，然后按“开始”。</translation>
    </message>
    <message>
        <source>Plug in the next unit.</source>
        <translation>请接入下一台设备。</translation>
    </message>
    <message>
        <source>Scan the unit&apos;s serial number.</source>
        <translation>请扫描设备序列号。</translation>
    </message>
    <message>
        <source>WAITING</source>
        <translation>等待中</translation>
    </message>
    <message>
        <source>FLASHING</source>
        <translation>烧写中</translation>
    </message>
    <message>
        <source>attempt %1</source>
        <translation>第 %1 次尝试</translation>
    </message>
    <message>
        <source>starting</source>
        <translation>正在开始</translation>
    </message>
    <message>
        <source>, %1 s left</source>
        <translation>，剩余 %1 秒</translation>
    </message>
    <message>
        <source>%1 (%2 of %3): %4%%5</source>
        <translation>%1（第 %2 个，共 %3 个）：%4%%5</translation>
    </message>
    <message>
        <source>RETRYING</source>
        <translation>重试中</translation>
    </message>
    <message>
        <source>PASS</source>
        <translation>通过</translation>
    </message>
    <message>
        <source>Unplug the unit.</source>
        <translation>请拔下设备。</translation>
    </message>
    <message>
        <source>FAIL</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>STOPPED</source>
        <translation>已中止</translation>
    </message>
    <message>
        <source>The unit was cut short; flash it again.</source>
        <translation>设备烧写被中断；请重新烧写。</translation>
    </message>
    <message>
        <source>passed %1 · failed %2</source>
        <translation>通过 %1 · 失败 %2</translation>
    </message>
</context>
<context>
    <name>stationCommand</name>
    <message>
        <source>The operator&apos;s window of a flashing station: a tile per slot with PASS or FAIL,
counters and yield, over the profile an engineer prepared (see --setup).
Every attempt is one line in the profile&apos;s report, as with ups-flash.</source>
        <translation>烧写工位的操作员窗口：每个工位一个方块，显示通过或失败、
计数和良率，设置来自工程师准备的配置文件（见 --setup）。
每次尝试在配置文件指定的报告中记一行，与 ups-flash 相同。</translation>
    </message>
    <message>
        <source>Open the station profile FILE.ini.</source>
        <translation>打开工位配置文件 FILE.ini。</translation>
    </message>
    <message>
        <source>Open the set-up dialog that writes the station profile FILE.ini.</source>
        <translation>打开设置对话框，写入工位配置文件 FILE.ini。</translation>
    </message>
    <message>
        <source>Language of the window: en or zh.</source>
        <translation>窗口语言：en 或 zh。</translation>
    </message>
    <message>
        <source>Scale every protocol pause and timeout by F (above 0, at most 100). For simulated units only: a real unit needs the exact timing (1.0).</source>
        <translation>把每个协议停顿和超时乘以 F（大于 0，最大 100）。仅用于模拟设备：真实设备需要精确的时序（1.0）。</translation>
    </message>
    <message>
        <source>UPS station</source>
        <translation>UPS 烧写工位</translation>
    </message>
    <message>
        <source>--lang takes en or zh</source>
        <translation>--lang 只接受 en 或 zh</translation>
    </message>
    <message>
        <source>--time-scale takes a number above 0 and at most %1</source>
        <translation>--time-scale 需要大于 0 且不超过 %1 的数</translation>
    </message>
    <message>
        <source>give --profile FILE.ini (or --setup FILE.ini to write one)</source>
        <translation>请给出 --profile FILE.ini（或用 --setup FILE.ini 写一个）</translation>
    </message>
</context>
<context>
    <name>stationProfile</name>
    <message>
        <source>the profile %1 cannot be read: %2</source>
        <translation>无法读取配置文件 %1：%2</translation>
    </message>
    <message>
        <source>%1, line %2: not KEY = VALUE</source>
        <translation>%1，第 %2 行：不是 键 = 值</translation>
    </message>
    <message>
        <source>%1: %2 is given twice</source>
        <translation>%1：%2 出现了两次</translation>
    </message>
    <message>
        <source>%1: %2: %3</source>
        <translation>%1：%2：%3</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>has no value</source>
        <translation>没有值</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a whole number from 0 to %2</source>
        <translation>“%1”不是 0 到 %2 之间的整数</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither true nor false</source>
        <translation>“%1”既不是 true 也不是 false</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not one of %2</source>
        <translation>“%1”不是 %2 之一</translation>
    </message>
    <message>
        <source>unknown key (the keys are %1, slot.N)</source>
        <translation>未知的键（可用的键为 %1、slot.N）</translation>
    </message>
    <message>
        <source>a slot is slot.N, N from 1 to %1</source>
        <translation>工位写作 slot.N，N 为 1 到 %1</translation>
    </message>
    <message>
        <source>names no port</source>
        <translation>未指定端口</translation>
    </message>
    <message>
        <source>%1 is missing</source>
        <translation>缺少 %1</translation>
    </message>
    <message>
        <source>package: %1 is not there</source>
        <translation>package：%1 不存在</translation>
    </message>
    <message>
        <source>trusted-keys: %1 is not a folder</source>
        <translation>trusted-keys：%1 不是文件夹</translation>
    </message>
    <message>
        <source>slot.%1 and slot.%2 name the same port %3</source>
        <translation>slot.%1 和 slot.%2 指定了同一个端口 %3</translation>
    </message>
    <message>
        <source>the profile %1 cannot be written: %2</source>
        <translation>无法写入配置文件 %1：%2</translation>
    </message>
</context>
<context>
    <name>stationWindow</name>
    <message>
        <source>UPS station</source>
        <translation>UPS 烧写工位</translation>
    </message>
    <message>
        <source>trusted-keys: %1</source>
        <translation>trusted-keys：%1</translation>
    </message>
    <message>
        <source>package: %1</source>
        <translation>package：%1</translation>
    </message>
    <message>
        <source>report: cannot append to %1: %2</source>
        <translation>report：无法追加到 %1：%2</translation>
    </message>
    <message>
        <source>Package %1 · %2
SHA-256 %3
Report %4</source>
        <translation>固件包 %1 · %2
SHA-256 %3
报告 %4</translation>
    </message>
    <message>
        <source>signed by a trusted key</source>
        <translation>已由受信任公钥签名</translation>
    </message>
    <message>
        <source>signed, but no key is trusted: not checked</source>
        <translation>已签名，但没有受信任公钥：未校验</translation>
    </message>
    <message>
        <source>signature refused</source>
        <translation>签名被拒绝</translation>
    </message>
    <message>
        <source>not signed</source>
        <translation>未签名</translation>
    </message>
    <message>
        <source>–</source>
        <translation>–</translation>
    </message>
    <message>
        <source>Units %1 · passed %2 · failed %3 · yield %4</source>
        <translation>设备 %1 · 通过 %2 · 失败 %3 · 良率 %4</translation>
    </message>
    <message>
        <source>Stop the station?</source>
        <translation>停止工位？</translation>
    </message>
    <message>
        <source>A unit is being flashed. Closing now cuts it short: it stays in its boot loader and is recorded as interrupted. Close anyway?</source>
        <translation>有设备正在烧写。现在关闭会中断它：设备停留在引导程序中，并记录为中断。仍要关闭吗？</translation>
    </message>
</context>
<context>
    <name>textOutput</name>
    <message>
        <source>passed</source>
        <translation>通过</translation>
    </message>
    <message>
        <source>checked</source>
        <translation>已校验</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>已中断</translation>
    </message>
    <message>
        <source>no unit</source>
        <translation>无设备</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>station: each port flashes unit after unit until Ctrl-C. Next unit: unplug the adapter and plug it in again, or press Enter (with several ports type the port&apos;s name or number first; Enter alone starts every waiting port).</source>
        <translation>工位：每个端口逐台升级设备，直到按下 Ctrl-C。下一台设备：拔下适配器再插上，或按回车（有多个端口时先输入端口名或编号；只按回车则启动所有等待中的端口）。</translation>
    </message>
    <message>
        <source>waiting for %1 to appear</source>
        <translation>等待 %1 出现</translation>
    </message>
    <message>
        <source>waiting for the port</source>
        <translation>等待端口</translation>
    </message>
    <message>
        <source>waiting for the next unit</source>
        <translation>等待下一台设备</translation>
    </message>
    <message>
        <source>attempt %1 of %2: starting again from %3</source>
        <translation>第 %1 次尝试（共 %2 次）：从 %3 重新开始</translation>
    </message>
    <message>
        <source>unit %1</source>
        <translation>第 %1 台设备</translation>
    </message>
    <message>
        <source>starting</source>
        <translation>正在启动</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <extracomment>A unit&apos;s result and the code of what failed</extracomment>
        <translation>%1（%2）</translation>
    </message>
    <message>
        <source>attempt %1 %2: trying again</source>
        <translation>第 %1 次尝试%2：正在重试</translation>
    </message>
    <message>
        <source>this port: %1 passed, %2 failed</source>
        <translation>本端口：%1 台通过，%2 台失败</translation>
    </message>
    <message>
        <source>unit %1 %2; %3</source>
        <translation>第 %1 台设备%2；%3</translation>
    </message>
    <message>
        <source>port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>result</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>images</source>
        <translation>镜像</translation>
    </message>
    <message>
        <source>time (s)</source>
        <translation>用时(秒)</translation>
    </message>
    <message>
        <source>attempts</source>
        <translation>尝试次数</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1/%2</translation>
    </message>
</context>
<context>
    <name>trustedKeys</name>
    <message>
        <source>not a key file of this tool</source>
        <translation>不是本工具的密钥文件</translation>
    </message>
    <message>
        <source>%1 or %2 exists already; a key is never overwritten</source>
        <translation>%1 或 %2 已存在；密钥不会被覆盖</translation>
    </message>
    <message>
        <source>the cryptography library cannot start</source>
        <translation>加密库无法启动</translation>
    </message>
    <message>
        <source>the trusted key %1 cannot be used: %2</source>
        <translation>无法使用受信任密钥 %1：%2</translation>
    </message>
    <message>
        <source>it is a link to nothing</source>
        <translation>它是指向不存在目标的链接</translation>
    </message>
    <message>
        <source>it is not a folder</source>
        <translation>它不是文件夹</translation>
    </message>
    <message>
        <source>it cannot be read</source>
        <translation>它无法读取</translation>
    </message>
    <message>
        <source>the trusted keys folder %1 cannot be used: %2</source>
        <translation>受信任密钥文件夹 %1 无法使用：%2</translation>
    </message>
</context>
<context>
    <name>unitRecord</name>
    <message>
        <source>it is a folder</source>
        <translation>它是一个文件夹</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>它不是普通文件</translation>
    </message>
    <message>
        <source>%1; what was written of the line could not be taken back: %2</source>
        <translation>%1；已写入的部分行无法撤回：%2</translation>
    </message>
    <message>
        <source>the line could not be synced to the disk: %1</source>
        <translation>该行无法同步到磁盘：%1</translation>
    </message>
    <message>
        <source>the line could not be synced to the disk</source>
        <translation>该行无法同步到磁盘</translation>
    </message>
    <message>
        <source>another program has held the report locked for %1 s</source>
        <translation>另一个程序锁定报告已达 %1 秒</translation>
    </message>
</context>
<context>
    <name>unitServer</name>
    <message>
        <source>UNIT/KIND[:STEP][@N]: the same for unit UNIT alone (1 to --count); without
UNIT/ a fault hits every unit.</source>
        <translation>UNIT/KIND[:STEP][@N]：同上，但只作用于设备 UNIT（1 到 --count）；没有
UNIT/ 时故障作用于每台设备。</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a unit; only unit 1 is served</source>
        <translation>“%1”不是设备编号；只模拟了设备 1</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a unit; units 1 to %2 are served</source>
        <translation>“%1”不是设备编号；模拟的是设备 1 到 %2</translation>
    </message>
    <message>
        <source>job %1: %2 flashed, %3 bytes; line 2400 baud in %4 out %5, 9600 baud in %6 out %7</source>
        <translation>作业 %1：已烧写 %2，%3 字节；线路 2400 波特率 收 %4 发 %5，9600 波特率 收 %6 发 %7</translation>
    </message>
    <message>
        <source>, other speeds %1</source>
        <translation>，其他速率 %1</translation>
    </message>
    <message>
        <source>; replies late by %1 ms in all</source>
        <translation>；回复共迟 %1 毫秒</translation>
    </message>
    <message>
        <source>; saved as %1</source>
        <translation>；保存为 %1</translation>
    </message>
</context>
<context>
    <name>updateCore</name>
    <message>
        <source>signature checked</source>
        <translation>签名已校验</translation>
    </message>
    <message>
        <source>signed, not checked: no key is trusted</source>
        <translation>已签名，未校验：没有受信任的密钥</translation>
    </message>
    <message>
        <source>unsigned</source>
        <translation>未签名</translation>
    </message>
    <message>
        <source>update result: %1</source>
        <translation>升级结果：%1</translation>
    </message>
    <message>
        <source>%1 not ticked</source>
        <translation>%1 未勾选</translation>
    </message>
    <message>
        <source>%1 done</source>
        <translation>%1 完成</translation>
    </message>
    <message>
        <source>%1 failed (%2)</source>
        <translation>%1 失败（%2）</translation>
    </message>
    <message>
        <source>%1 stopped part way</source>
        <translation>%1 中途停止</translation>
    </message>
    <message>
        <source>%1 not sent</source>
        <translation>%1 未发送</translation>
    </message>
    <message>
        <source>translating the object file: check the package</source>
        <translation>转换目标文件：请检查升级包</translation>
    </message>
    <message>
        <source>opening the port: check the port name and that no other program uses it</source>
        <translation>打开串口：请检查串口名称，并确认没有其他程序占用该串口</translation>
    </message>
    <message>
        <source>reading the image: choose the package again</source>
        <translation>读取镜像：请重新选择升级包</translation>
    </message>
    <message>
        <source>checking the image: the board does not take it, check that the package is for this model</source>
        <translation>检查镜像：该板不接受此镜像，请确认升级包适用于此型号</translation>
    </message>
    <message>
        <source>shaking hands: the unit did not answer, check the cable, the port and that the unit is on</source>
        <translation>握手：设备无应答，请检查线缆、串口以及设备是否已通电</translation>
    </message>
    <message>
        <source>verifying: the unit did not take the image, check that the package is for this unit</source>
        <translation>校验：设备不接受此镜像，请确认升级包适用于此设备</translation>
    </message>
    <message>
        <source>erasing: the unit did not confirm the erase, start the update again</source>
        <translation>擦除：设备未确认擦除，请重新升级</translation>
    </message>
    <message>
        <source>sending data: the unit stopped answering, check the cable and start the update again</source>
        <translation>发送数据：设备停止应答，请检查线缆后重新升级</translation>
    </message>
    <message>
        <source>starting the new firmware: the unit did not confirm it, start the update again</source>
        <translation>启动新固件：设备未确认，请重新升级</translation>
    </message>
    <message>
        <source>changing the line speed: the unit did not confirm it, check the cable and the adapter</source>
        <translation>切换波特率：设备未确认，请检查线缆和转接器</translation>
    </message>
    <message>
        <source>%1: see the lines above</source>
        <translation>%1：请查看上面的日志</translation>
    </message>
    <message>
        <source>listed %1: model %2, images: %3, %4; trusted keys: %5</source>
        <translation>已列出 %1：型号 %2，镜像：%3，%4；受信任密钥：%5</translation>
    </message>
</context>
<context>
    <name>updateEngine</name>
    <message>
        <source>the unit does not answer: check the port, the cable, the power and that the package is for this unit&apos;s model</source>
        <translation>设备无应答：请检查串口、线缆、电源，以及升级包是否适用于该设备型号</translation>
    </message>
    <message>
        <source>the unit refuses it: check that the package is for this unit&apos;s model and processor</source>
        <translation>设备拒绝：请检查升级包是否适用于该设备的型号和处理器</translation>
    </message>
    <message>
        <source>the unit&apos;s replies make no sense here: check the cable and that the package is for this unit&apos;s model</source>
        <translation>设备应答无法识别：请检查线缆，以及升级包是否适用于该设备型号</translation>
    </message>
    <message>
        <source>the port could not be opened again: check the port and the cable</source>
        <translation>无法再次打开串口：请检查串口和线缆</translation>
    </message>
    <message>
        <source>%1: stopped at the %2: %3</source>
        <translation>%1：在%2步骤停止：%3</translation>
    </message>
</context>
<context>
    <name>windowCommand</name>
    <message>
        <source>Opens the window of the UPS firmware updater: pick a firmware package, tick the
images to send, choose the serial port and start the update. The window takes
no other arguments and needs a display. For scripts, production lines and
machines without a display, ups-flash does the same update on the command line.</source>
        <translation>打开 UPS 固件升级窗口：选择固件升级包，勾选要发送的镜像，
选择串口并开始升级。窗口不接受其他参数，并且需要显示器。
脚本、生产线以及没有显示器的机器请使用 ups-flash，
它在命令行上完成同样的升级。</translation>
    </message>
</context>
<context>
    <name>zip</name>
    <message>
        <source>its digest check failed</source>
        <translation>摘要校验失败</translation>
    </message>
    <message>
        <source>it could not be unpacked whole</source>
        <translation>无法完整解压（文件已损坏）</translation>
    </message>
    <message>
        <source>it is a folder or a link in the package</source>
        <translation>它在升级包中是文件夹或链接</translation>
    </message>
    <message>
        <source>it is larger than any image can be</source>
        <translation>文件过大，不可能是固件镜像</translation>
    </message>
    <message>
        <source>it could not be written to the disk</source>
        <translation>无法写入磁盘</translation>
    </message>
    <message>
        <source>more than one file of the package matches its image name</source>
        <translation>升级包中有多个文件匹配同一镜像名</translation>
    </message>
    <message>
        <source>its name matches more than one image name</source>
        <translation>文件名匹配多个镜像名</translation>
    </message>
    <message>
        <source>%1 cannot be sent: %2</source>
        <translation>%1 无法发送：%2</translation>
    </message>
    <message>
        <source>package refused: its file name leaves no folder to unpack into: %1</source>
        <translation>升级包被拒绝：无法由文件名确定解压目录：%1</translation>
    </message>
    <message>
        <source>cannot read the package %1</source>
        <translation>无法读取升级包 %1</translation>
    </message>
    <message>
        <source>cannot read the package %1: %2</source>
        <translation>无法读取升级包 %1：%2</translation>
    </message>
    <message>
        <source>package refused: %1</source>
        <translation>固件包被拒绝：%1</translation>
    </message>
    <message>
        <source>signed by %1</source>
        <translation>签名者 %1</translation>
    </message>
    <message>
        <source>signed by %1 (not checked: no key is trusted)</source>
        <translation>签名者 %1（未校验：没有受信任的密钥）</translation>
    </message>
    <message>
        <source>SIGNATURE ignored: %1</source>
        <translation>已忽略 SIGNATURE：%1</translation>
    </message>
    <message>
        <source>cannot unpack into %1 nor into %2</source>
        <translation>无法解包到 %1，也无法解包到 %2</translation>
    </message>
    <message>
        <source>%1 cannot be written: unpacking into %2</source>
        <translation>%1 无法写入：改为解包到 %2</translation>
    </message>
</context>
</TS>
