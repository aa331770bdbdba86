<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Basic_From_Top</name>
    <message>
        <source>Minimise</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Maximise</source>
        <translation>最大化</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>还原</translation>
    </message>
</context>
<context>
    <name>Pellanor</name>
    <message>
        <source>The list was emptied: its %1 entries belong to the other type</source>
        <translation>列表已清空：其中 %1 项属于另一类型</translation>
    </message>
    <message>
        <source>Packing is still running. Stop it and close? Nothing of it is kept.</source>
        <translation>正在打包。停止并关闭吗？已打包的内容不会保留。</translation>
    </message>
    <message>
        <source>Unpacking is still running. Stop it and close? The files unpacked so far are kept; a new run completes the rest.</source>
        <translation>正在解包。停止并关闭吗？已解出的文件会保留，再次解密可补全其余。</translation>
    </message>
</context>
<context>
    <name>Pellanor_View</name>
    <message>
        <source>Files and folders</source>
        <translation>文件和文件夹</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
</context>
<context>
    <name>Run_Report</name>
    <message>
        <source>not a container, or damaged</source>
        <translation>不是容器文件，或已损坏</translation>
    </message>
    <message>
        <source>The cipher has no key: anyone with Corvanta can open this container.</source>
        <translation>此加密没有密钥：任何有 Corvanta 的人都能打开这个容器。</translation>
    </message>
</context>
</TS>
