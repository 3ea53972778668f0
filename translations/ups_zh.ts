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
</context>
<context>
    <name>common</name>
    <message>
        <source>no translating file:</source>
        <translation>没有要转换的文件：</translation>
    </message>
    <message>
        <source>translating fail!
</source>
        <translation>转换失败！
</translation>
    </message>
    <message>
        <source>file format error!
</source>
        <translation>文件格式错误！
</translation>
    </message>
    <message>
        <source>translating success!
</source>
        <translation>转换成功！
</translation>
    </message>
    <message>
        <source>file reading failed!
</source>
        <translation>文件读取失败！
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
</context>
<context>
    <name>progress1</name>
    <message>
        <source>file open failed!</source>
        <translation>文件打开失败！</translation>
    </message>
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
        <source>file opening failed!</source>
        <translation>文件打开失败！</translation>
    </message>
    <message>
        <source>begin to updating!</source>
        <translation>开始升级！</translation>
    </message>
    <message>
        <source>updating finished!</source>
        <translation>数据发送完毕！</translation>
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
    <name>serialport</name>
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
        <source>cannot unpack into %1</source>
        <translation>无法解压到 %1</translation>
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
</context>
<context>
    <name>updateCore</name>
    <message>
        <source>listed %1: model %2, images: %3, %4</source>
        <translation>已列出 %1：型号 %2，镜像 %3 个，%4</translation>
    </message>
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
</context>
</TS>
