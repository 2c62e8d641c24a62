(function(){
function go(id){var a=document.getElementById(id);if(a){location.href=a.href;return true}return false}
document.addEventListener('keydown',function(e){
if(e.altKey||e.ctrlKey||e.metaKey||e.shiftKey)return;
var id=e.key==='ArrowLeft'?'vc-prev':e.key==='ArrowRight'?'vc-next':e.key==='Escape'?'vc-back':null;
if(id&&go(id))e.preventDefault()});
var x=null,y=0;
document.addEventListener('touchstart',function(e){if(e.touches.length!==1){x=null;return}x=e.touches[0].clientX;y=e.touches[0].clientY},{passive:true});
document.addEventListener('touchend',function(e){if(x===null)return;var t=e.changedTouches[0];var dx=t.clientX-x,dy=t.clientY-y;x=null;if(Math.abs(dx)>50&&Math.abs(dx)>2*Math.abs(dy))go(dx<0?'vc-next':'vc-prev')},{passive:true});
})();
