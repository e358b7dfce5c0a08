; A DOS program that prints the way a point-of-sale program does: it creates
; WLSDFKJN.DRY in the current folder, writes a receipt into it (CR LF lines,
; code page 437 text, a form feed ending the first page) and closes it.
; Between the two halves of the receipt it keeps the file open for about two
; seconds, as a slow program does, so that a spool file still being written
; can be told from a finished one. Assemble with: nasm -f bin -o PRINTOUT.COM
        org 100h

start:
        mov ah, 3Ch             ; create (or truncate) the spool file
        xor cx, cx              ; normal attributes
        mov dx, spoolName
        int 21h
        jc failed
        mov [handle], ax

        mov dx, firstHalf
        mov cx, firstHalfEnd - firstHalf
        call writeBytes

        call waitTwoSeconds

        mov dx, secondHalf
        mov cx, secondHalfEnd - secondHalf
        call writeBytes

        mov ah, 3Eh             ; close: the printout is complete
        mov bx, [handle]
        int 21h
        jc failed
        mov ax, 4C00h
        int 21h

failed:
        mov ah, 09h
        mov dx, failedText
        int 21h
        mov ax, 4C01h
        int 21h

; Writes CX bytes from DS:DX to the spool file; a short write is a failure.
writeBytes:
        mov ah, 40h
        mov bx, [handle]
        push cx
        int 21h
        pop cx
        jc failed
        cmp ax, cx
        jne failed
        ret

; Waits 36 ticks of the BIOS clock (18.2 a second) at 0040:006C.
waitTwoSeconds:
        push es
        mov ax, 40h
        mov es, ax
        mov bx, [es:6Ch]
.again:
        mov ax, [es:6Ch]
        sub ax, bx
        cmp ax, 36
        jb .again
        pop es
        ret

spoolName   db "WLSDFKJN.DRY", 0
failedText  db "printout failed", 13, 10, "$"
handle      dw 0

firstHalf:
        db "DOS TILL RECEIPT", 13, 10
        db 0DAh, 0C4h, 0C4h, 0C4h, 0C4h, 0C4h, 0C4h, 0C4h, 0C4h, 0BFh, 13, 10
        db "Caf", 82h, " au lait   2.40", 13, 10
firstHalfEnd:
secondHalf:
        db "Total       2.40", 0Ch, 13, 10   ; a new page after this line
        db "Page two: thank you", 13, 10
secondHalfEnd:
